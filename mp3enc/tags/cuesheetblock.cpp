#include "mp3enc/tags/cuesheetblock.h"

#include "mp3enc/input/flacblocks.h"
#include "mp3enc/tags/vorbiscomment.h"

#include <QStringList>
#include <QtEndian>

namespace {

// The block's layout: a catalog number, the lead-in, a flag byte and reserved bytes, the track
// count; each track its offset, number, ISRC, flags and reserved bytes, index count; each index
// its offset (from the track's), number and reserved bytes.
constexpr int HeaderBytes = 128 + 8 + 1 + 258 + 1;
constexpr int TrackBytes = 8 + 1 + 12 + 1 + 13 + 1;
constexpr int IndexBytes = 8 + 1 + 3;
constexpr int LeadOut = 170;

QString cdTime(qint64 samples, int sampleRate)
{
    const qint64 frames = samples * 75 / sampleRate;
    return QStringLiteral("%1:%2:%3")
        .arg(frames / 75 / 60, 2, 10, QChar(u'0'))
        .arg(frames / 75 % 60, 2, 10, QChar(u'0'))
        .arg(frames % 75, 2, 10, QChar(u'0'));
}

} // namespace

QString cueSheetBlockText(const QByteArray &block, int sampleRate)
{
    const auto *p = reinterpret_cast<const uchar *>(block.constData());
    qsizetype at = HeaderBytes;
    if (sampleRate <= 0 || block.size() < at)
        return {};
    const int tracks = p[at - 1];
    // The file is the one the block is in; a sheet parser wants a name all the same.
    QStringList lines{QStringLiteral("FILE \"image\" WAVE")};
    for (int t = 0; t < tracks; ++t) {
        if (block.size() < at + TrackBytes)
            return {};
        const auto offset = qint64(qFromBigEndian<quint64>(p + at));
        const int number = p[at + 8];
        const int indexes = p[at + TrackBytes - 1];
        at += TrackBytes;
        if (block.size() < at + qsizetype(indexes) * IndexBytes)
            return {};
        if (number != LeadOut) {
            lines.append(QStringLiteral("  TRACK %1 AUDIO").arg(number, 2, 10, QChar(u'0')));
            for (int i = 0; i < indexes; ++i) {
                const uchar *index = p + at + qsizetype(i) * IndexBytes;
                lines.append(
                    QStringLiteral("    INDEX %1 %2")
                        .arg(index[8], 2, 10, QChar(u'0'))
                        .arg(cdTime(offset + qint64(qFromBigEndian<quint64>(index)), sampleRate)));
            }
        }
        at += qsizetype(indexes) * IndexBytes;
    }
    return lines.join(u'\n') + u'\n';
}

QString embeddedCueSheet(int fd)
{
    const std::optional<FlacBlocks> blocks = readFlacBlocks(fd);
    if (!blocks)
        return {};
    if (blocks->comment) {
        const QByteArray data = readFlacBlock(fd, *blocks->comment);
        if (const auto comment = parseVorbisComment(data)) {
            const QList<QByteArrayView> sheets = comment->values("CUESHEET");
            if (!sheets.isEmpty())
                return decodeCommentText(sheets.first());
        }
    }
    if (blocks->cueSheet)
        return cueSheetBlockText(readFlacBlock(fd, *blocks->cueSheet), blocks->sampleRate);
    return {};
}
