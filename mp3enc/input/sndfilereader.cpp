#include "mp3enc/input/sndfilereader.h"

#include "mp3enc/calc/magnitude.h"
#include "mp3enc/input/bytereader.h"
#include "mp3enc/input/flacblocks.h"
#include "mp3enc/input/flacframes.h"
#include "runtime/filename.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// libsndfile's account of its last error, in the user's words where it has a common cause.
QString sndfileError(SNDFILE *file)
{
    switch (sf_error(file)) {
    case SF_ERR_UNRECOGNISED_FORMAT:
        return QStringLiteral("无法识别的格式");
    case SF_ERR_MALFORMED_FILE:
        return QStringLiteral("文件结构已损坏");
    case SF_ERR_UNSUPPORTED_ENCODING:
        return QStringLiteral("不支持其中的编码");
    default:
        return QString::fromLocal8Bit(sf_strerror(file));
    }
}

using Source = SndFileReader::Source;

Source &source(void *user)
{
    return *static_cast<Source *>(user);
}

sf_count_t sourceLength(void *user)
{
    return source(user).length;
}

sf_count_t sourceSeek(sf_count_t offset, int whence, void *user)
{
    Source &s = source(user);
    const sf_count_t from = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? s.position : s.length;
    if (from + offset < 0)
        return -1;
    s.position = from + offset;
    return s.position;
}

sf_count_t sourceRead(void *data, sf_count_t count, void *user)
{
    Source &s = source(user);
    if (*s.cancel && (*s.cancel)->load(std::memory_order_relaxed))
        return 0;
    sf_count_t done = 0;
    auto *p = static_cast<char *>(data);
    while (done < count) {
        const ssize_t n = ::pread(s.fd, p + done, size_t(count - done), off_t(s.base + s.position));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
        s.position += n;
    }
    return done;
}

sf_count_t sourceWrite(const void *, sf_count_t, void *)
{
    return 0;
}

sf_count_t sourceTell(void *user)
{
    return source(user).position;
}

SF_VIRTUAL_IO virtualIo = {sourceLength, sourceSeek, sourceRead, sourceWrite, sourceTell};

// ---- the data chunk of a plain RIFF file, for sizes a 32-bit field cannot hold

struct DataChunk
{
    std::int64_t offset = 0;
    std::uint32_t declared = 0;
    bool bigEndian = false;
};

std::optional<DataChunk> findDataChunk(int fd, std::int64_t length)
{
    RiffWalk walk(fd, length, false);
    while (const auto chunk = walk.next()) {
        if (std::memcmp(chunk->id, "data", 4) == 0)
            return DataChunk{chunk->body, chunk->size, walk.bigEndian()};
    }
    return std::nullopt;
}

// Whether the chunks from `pos` lead exactly to the end of the file: what a real chunk after
// the data looks like, as opposed to sample bytes that happen to follow a wrapped size.
bool chunksReachEnd(int fd, std::int64_t pos, std::int64_t length, bool bigEndian)
{
    for (int chunks = 0; pos + 8 <= length && chunks < 64; ++chunks) {
        unsigned char c[8];
        if (!bytes::readAt(fd, pos, c, sizeof c))
            return false;
        for (int i = 0; i < 4; ++i) {
            if (c[i] < 0x20 || c[i] > 0x7E)
                return false;
        }
        const std::uint32_t size = bytes::sizeField(c + 4, bigEndian);
        pos += 8 + std::int64_t(size);
        if (pos == length)
            return true;
        pos += size & 1;
    }
    return pos == length;
}

int bytesPerSample(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8:
        return 1;
    case SF_FORMAT_PCM_16:
        return 2;
    case SF_FORMAT_PCM_24:
        return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 4;
    case SF_FORMAT_DOUBLE:
        return 8;
    default:
        return 0; // compressed: no fixed frame size to count by
    }
}

} // namespace

SndFileReader::~SndFileReader()
{
    close();
    if (m_source.fd >= 0)
        ::close(m_source.fd);
}

void SndFileReader::close()
{
    if (m_file)
        sf_close(m_file);
    m_file = nullptr;
}

bool SndFileReader::openAt(std::int64_t base, int rawFormat)
{
    close();
    m_source.base = base;
    m_source.position = 0;
    struct stat st = {};
    m_source.length = ::fstat(m_source.fd, &st) == 0 ? std::int64_t(st.st_size) - base : 0;
    m_source.cancel = &m_cancel;
    SF_INFO info{};
    if (rawFormat) {
        info.format = rawFormat;
        info.channels = m_channels;
        info.samplerate = m_sampleRate;
    }
    m_file = sf_open_virtual(&virtualIo, SFM_READ, &info, &m_source);
    if (!m_file) {
        m_error = sndfileError(nullptr);
        return false;
    }
    m_frames = info.frames;
    m_channels = info.channels;
    m_sampleRate = info.samplerate;
    if (!rawFormat)
        m_format = info.format;
    return true;
}

bool SndFileReader::open(const QString &path)
{
    // Non-blocking, so a pipe without a writer cannot hang the open before it is refused.
    m_source.fd = ::open(rt::encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_source.fd < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st = {};
    if (::fstat(m_source.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        m_notRegular = true;
        m_error = QStringLiteral("不是普通文件");
        return false;
    }
    ::fcntl(m_source.fd, F_SETFL, ::fcntl(m_source.fd, F_GETFL) & ~O_NONBLOCK);
    return openDescriptor();
}

bool SndFileReader::openSame(const SndFileReader &opened)
{
    m_source.fd = ::fcntl(opened.m_source.fd, F_DUPFD_CLOEXEC, 0);
    if (m_source.fd < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!openDescriptor())
        return false;
    m_floatPeak = opened.m_floatPeak; // every reader of the file scales float input alike
    return opened.m_first == 0 && opened.m_frames == m_frames
               ? true
               : setPart(opened.m_first, opened.m_frames);
}

bool SndFileReader::setPart(std::int64_t first, std::int64_t count)
{
    const std::int64_t whole = m_first + m_frames; // a part of a part is not asked for
    if (first < 0 || count <= 0 || first > whole - count ||
        sf_seek(m_file, first, SEEK_SET) != first) {
        m_error = QStringLiteral("这一段不在文件之内");
        return false;
    }
    m_first = first;
    m_frames = count;
    m_position = 0;
    return true;
}

bool SndFileReader::openDescriptor()
{
    if (!openAt(0, 0))
        return false;
    // Taken now: a file read to its end is reopened as raw samples, without its chunks.
    for (int type = SF_STR_FIRST; type <= SF_STR_LAST; ++type) {
        if (const char *text = sf_get_string(m_file, type))
            m_strings.insert(type, QByteArray(text));
    }
    m_channelMap = QVector<int>(m_channels);
    if (m_channels <= 0 || sf_command(m_file, SFC_GET_CHANNEL_MAP_INFO, m_channelMap.data(),
                                      int(m_channelMap.size() * sizeof(int))) != SF_TRUE)
        m_channelMap.clear();
    if ((m_format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC && m_frames == SF_COUNT_MAX)
        return countFlacFrames();

    // A plain RIFF file keeps its data size in 32 bits: past 4 GiB writers wrap it or write
    // 0xFFFFFFFF, and libsndfile would then read only part of the samples.
    const int container = m_format & SF_FORMAT_TYPEMASK;
    const int subtype = m_format & SF_FORMAT_SUBMASK;
    const int frameBytes = bytesPerSample(subtype) * m_channels;
    if ((container != SF_FORMAT_WAV && container != SF_FORMAT_WAVEX) || frameBytes <= 0)
        return true;
    const std::int64_t length = m_source.length;
    const auto chunk = findDataChunk(m_source.fd, length);
    if (!chunk)
        return true;
    const std::int64_t remaining = length - chunk->offset;
    if (remaining <= std::int64_t(UINT32_MAX) || std::int64_t(chunk->declared) >= remaining ||
        chunksReachEnd(m_source.fd, chunk->offset + chunk->declared + (chunk->declared & 1), length,
                       chunk->bigEndian))
        return true;
    const int endian = chunk->bigEndian ? SF_ENDIAN_BIG : SF_ENDIAN_LITTLE;
    if (!openAt(chunk->offset, SF_FORMAT_RAW | subtype | endian))
        return false;
    m_frames = remaining / frameBytes;
    m_readsToEnd = true;
    return true;
}

// libsndfile's word for a FLAC stream whose information block gives no length (one written to a
// pipe): the encoder needs the exact length before it starts, so it is counted from the frames.
bool SndFileReader::countFlacFrames()
{
    const auto blocks = readFlacBlocks(m_source.fd);
    const auto counted =
        blocks ? countFlacSamples(m_source.fd, blocks->audioOffset, m_source.length) : std::nullopt;
    if (!counted || *counted <= 0) {
        m_error = QStringLiteral("FLAC文件没有写明长度，结尾也找不到完整的音频帧");
        return false;
    }
    m_frames = *counted;
    return true;
}

bool SndFileReader::lengthIsEstimate() const
{
    const int codec = m_format & SF_FORMAT_SUBMASK;
    return codec == SF_FORMAT_VORBIS || codec == SF_FORMAT_OPUS;
}

bool SndFileReader::isEncodable() const
{
    return (m_format & SF_FORMAT_TYPEMASK) != SF_FORMAT_MPEG &&
           (m_format & SF_FORMAT_SUBMASK) != SF_FORMAT_MPEG_LAYER_III;
}

QVector<int> SndFileReader::channelMap() const
{
    return m_channelMap;
}

bool SndFileReader::isFloat() const
{
    switch (m_format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
        return true;
    default:
        return false;
    }
}

bool SndFileReader::seek(std::int64_t frame)
{
    if (frame >= 0 && frame <= m_frames &&
        sf_seek(m_file, m_first + frame, SEEK_SET) == m_first + frame) {
        m_position = frame;
        return true;
    }
    m_error = sndfileError(m_file);
    return false;
}

bool SndFileReader::scalesItself() const
{
    const int codec = m_format & SF_FORMAT_SUBMASK;
    return codec == SF_FORMAT_FLOAT || codec == SF_FORMAT_VORBIS;
}

bool SndFileReader::findFloatPeak()
{
    const sf_count_t at = sf_seek(m_file, 0, SEEK_CUR);
    if (at < 0 || sf_seek(m_file, 0, SEEK_SET) != 0)
        return false;
    constexpr sf_count_t Block = 4096;
    m_floats.resize(std::size_t(Block * m_channels));
    float largest = 0.0f;
    for (sf_count_t n; (n = sf_readf_float(m_file, m_floats.data(), Block)) > 0;)
        largest = largestMagnitude(m_floats.data(), std::size_t(n * m_channels), largest);
    if ((m_cancel && m_cancel->load(std::memory_order_relaxed)) ||
        sf_error(m_file) != SF_ERR_NO_ERROR || sf_seek(m_file, at, SEEK_SET) != at)
        return false;
    // libsndfile's headroom, so the peak lands a hair under full scale, kept in single precision
    // as libsndfile keeps it.
    m_floatPeak = double(float((32768.0 / 32767.0) * double(largest)));
    return true;
}

bool SndFileReader::silentFromStart()
{
    constexpr sf_count_t Block = 4096;
    m_floats.resize(std::size_t(Block * m_channels));
    bool silent = true;
    const sf_count_t at = sf_seek(m_file, 0, SEEK_CUR);
    sf_seek(m_file, 0, SEEK_SET);
    for (sf_count_t n; silent && (n = sf_readf_float(m_file, m_floats.data(), Block)) > 0;)
        silent = std::all_of(m_floats.begin(), m_floats.begin() + n * m_channels,
                             [](float x) { return x == 0.0f; });
    sf_seek(m_file, std::max<sf_count_t>(at, 0), SEEK_SET);
    return silent;
}

// The scaling is chosen on the first read (the encoder's thread): it may read the whole file.
bool SndFileReader::chooseScaling()
{
    m_scaleChosen = true;
    if (!isFloat())
        return true;
    if (scalesItself())
        return m_floatPeak || findFloatPeak();
    // libsndfile divides by the peak: a silent file would come out at full negative scale.
    if (!silentFromStart())
        sf_command(m_file, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    return true;
}

// libsndfile's own arithmetic for each codec, so a piece reads what the whole file would.
std::int64_t SndFileReader::readScaled(int *interleaved, std::int64_t frames)
{
    m_floats.resize(std::size_t(frames * m_channels));
    const sf_count_t n = sf_readf_float(m_file, m_floats.data(), frames);
    const double peak = *m_floatPeak;
    const bool vorbis = (m_format & SF_FORMAT_SUBMASK) == SF_FORMAT_VORBIS;
    const float scale = peak > 0 ? float(0x7FFFFFFF) / float(peak) : 1.0f;
    const float inverse = peak > 0 ? float(1.0 / peak) : 1.0f;
    for (sf_count_t i = 0; i < n * m_channels; ++i) {
        const float x = m_floats[std::size_t(i)];
        interleaved[i] =
            int(vorbis ? std::lrintf((x * inverse) * 2147483647.0f) : std::lrintf(scale * x));
    }
    return n;
}

std::int64_t SndFileReader::read(int *interleaved, std::int64_t frames)
{
    if (!m_scaleChosen && !chooseScaling()) {
        m_error = QStringLiteral("无法读完文件以找出峰值");
        return -1;
    }
    // Not past the end of the part; the whole file's end is libsndfile's to find (an estimated
    // length may run out sooner).
    if (m_first > 0 || !lengthIsEstimate())
        frames = std::min(frames, std::max<std::int64_t>(m_frames - m_position, 0));
    const sf_count_t n = scalesItself() ? readScaled(interleaved, frames)
                                        : sf_readf_int(m_file, interleaved, frames);
    if (n < frames && sf_error(m_file) != SF_ERR_NO_ERROR) {
        m_error = sndfileError(m_file);
        return -1;
    }
    m_position += n;
    return n;
}

QByteArray SndFileReader::infoString(int type) const
{
    return m_strings.value(type);
}
