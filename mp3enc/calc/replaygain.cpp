#include "mp3enc/calc/replaygain.h"

#include "mp3enc/calc/mp3frame.h"

#include <algorithm>
#include <cmath>

// Every sum and product below is float or double exactly where LAME's are, in LAME's order; the
// build compiles this file without contracting them into fused multiply-adds.
namespace replaygain {

// One rate's equal-loudness filter: a 10th-order Yule-Walker filter, then a 2nd-order
// Butterworth high-pass. LAME keeps the coefficients in float.
struct Filters
{
    int rate;
    float yuleIn[Order + 1]; // x[n-10] .. x[n]
    float yuleOut[Order];    // y[n-10] .. y[n-1]
    float butterIn[3];       // x[n-2] .. x[n]
    float butterOut[2];      // y[n-2], y[n-1]
};

namespace {

// clang-format off
constexpr Filters AllFilters[] = {
    {48000,
     {0.00288463683916, 0.00012025322027, 0.00306428023191, 0.00594298065125, -0.02074045215285, 0.02161526843274, -0.01655260341619, -0.00009291677959, -0.00123395316851, -0.02160367184185, 0.03857599435200},
     {0.13919314567432, -0.86984376593551, 2.75465861874613, -5.87257861775999, 9.48293806319790, -12.28759895145294, 13.05504219327545, -11.34170355132042, 7.81501653005538, -3.84664617118067},
     {0.98621192462708, -1.97242384925416, 0.98621192462708},
     {0.97261396931306, -1.97223372919527}},
    {44100,
     {-0.00187763777362, 0.00674613682247, -0.00240879051584, 0.01624864962975, -0.02596338512915, 0.02245293253339, -0.00834990904936, -0.00851165645469, -0.00848709379851, -0.02911007808948, 0.05418656406430},
     {0.13149317958808, -0.75104302451432, 2.19611684890774, -4.39470996079559, 6.85401540936998, -8.81498681370155, 9.47693607801280, -8.54751527471874, 6.36317777566148, -3.47845948550071},
     {0.98500175787242, -1.97000351574484, 0.98500175787242},
     {0.97022847566350, -1.96977855582618}},
    {32000,
     {-0.00881362733839, 0.00651420667831, -0.01390589421898, 0.03174092540049, 0.00222312597743, 0.04781476674921, -0.05588393329856, 0.02163541888798, -0.06247880153653, -0.09331049056315, 0.15457299681924},
     {0.02347897407020, -0.05032077717131, 0.16378164858596, -0.45953458054983, 1.00595954808547, -1.67148153367602, 2.23697657451713, -2.64577170229825, 2.84868151156327, -2.37898834973084},
     {0.97938932735214, -1.95877865470428, 0.97938932735214},
     {0.95920349965459, -1.95835380975398}},
    {24000,
     {-0.02950134983287, 0.00205861885564, -0.00000828086748, 0.06276101321749, -0.00584456039913, -0.02364141202522, -0.00915702933434, 0.03282930172664, -0.08587323730772, -0.22613988682123, 0.30296907319327},
     {0.00302439095741, 0.02005851806501, 0.04500235387352, -0.22138138954925, 0.39120800788284, -0.22638893773906, -0.16276719120440, -0.25656257754070, 1.07977492259970, -1.61273165137247},
     {0.97531843204928, -1.95063686409857, 0.97531843204928},
     {0.95124613669835, -1.95002759149878}},
    {22050,
     {-0.01760176568150, -0.01635381384540, 0.00832043980773, 0.05724228140351, -0.00589500224440, -0.00469977914380, -0.07834489609479, 0.11921148675203, -0.11828570177555, -0.25572241425570, 0.33642304856132},
     {0.02977207319925, -0.04237348025746, 0.08333755284107, -0.04067510197014, -0.12453458140019, 0.47854794562326, -0.80774944671438, 0.12205022308084, 0.87350271418188, -1.49858979367799},
     {0.97316523498161, -1.94633046996323, 0.97316523498161},
     {0.94705070426118, -1.94561023566527}},
    {16000,
     {0.00541907748707, -0.03193428438915, -0.01863887810927, 0.10478503600251, 0.04097565135648, -0.12398163381748, 0.04078262797139, -0.01419140100551, -0.22784394429749, -0.14351757464547, 0.44915256608450},
     {0.03222754072173, 0.05784820375801, 0.06747620744683, 0.00613424350682, 0.22199650564824, -0.42029820170918, 0.00213767857124, -0.37256372942400, 0.29661783706366, -0.62820619233671},
     {0.96454515552826, -1.92909031105652, 0.96454515552826},
     {0.93034775234268, -1.92783286977036}},
    {12000,
     {-0.00588215443421, -0.03788984554840, 0.08647503780351, 0.00647310677246, -0.27562961986224, 0.30931782841830, -0.18901604199609, 0.16744243493672, 0.16242137742230, -0.75464456939302, 0.56619470757641},
     {0.01807364323573, 0.01639907836189, -0.04784254229033, 0.06739368333110, -0.33032403314006, 0.45054734505008, 0.00819999645858, -0.26806001042947, 0.29156311971249, -1.04800335126349},
     {0.96009142950541, -1.92018285901082, 0.96009142950541},
     {0.92177618768381, -1.91858953033784}},
    {11025,
     {-0.00749618797172, -0.03721611395801, 0.06920467763959, 0.01628462406333, -0.25344790059353, 0.15558449135573, 0.02377945217615, 0.17520704835522, -0.14289799034253, -0.53174909058578, 0.58100494960553},
     {0.01818801111503, 0.02442357316099, -0.02505961724053, -0.05246019024463, -0.23313271880868, 0.38952639978999, 0.14728154134330, -0.20256413484477, -0.31863563325245, -0.51035327095184},
     {0.95856916599601, -1.91713833199203, 0.95856916599601},
     {0.91885558323625, -1.91542108074780}},
    {8000,
     {-0.02217936801134, 0.04788665548180, -0.04060034127000, -0.11202315195388, -0.02459864859345, 0.14590772289388, -0.10214864179676, 0.04267842219415, -0.00275953611929, -0.42163034350696, 0.53648789255105},
     {0.04704409688120, 0.05477720428674, -0.18823009262115, -0.17556493366449, 0.15113130533216, 0.26408300200955, -0.04678328784242, -0.03424681017675, -0.43193942311114, -0.25049871956020},
     {0.94597685600279, -1.89195371200558, 0.94597685600279},
     {0.89487434461664, -1.88903307939452}},
};
// clang-format on

// LAME hands its analysis at most one frame's worth of samples a call.
constexpr std::size_t MaxCall = 1152;

const Filters *filtersFor(int sampleRate)
{
    for (const auto &filters : AllFilters) {
        if (filters.rate == sampleRate)
            return &filters;
    }
    return nullptr;
}

// The input side of the Yule-Walker filter at x[0]: it depends on no output, so a run of it is
// computed ahead, several samples at once.
float yuleInput(const float *x, const Filters &f)
{
    const float *b = f.yuleIn;
    const float in1 = x[-10] * b[0] + x[-9] * b[1] + x[-8] * b[2] + x[-7] * b[3];
    const float in2 = x[-6] * b[4] + x[-5] * b[5] + x[-4] * b[6] + x[-3] * b[7];
    const float in3 = x[-2] * b[8] + x[-1] * b[9];
    return in1 + in2 + in3 + x[0] * b[10];
}

// Both channels side by side, one in each of the first two lanes: every operation is the same
// float operation in each lane, so each channel's result is bit for bit its own.
using Lanes = float __attribute__((vector_size(16)));

Lanes both(float v)
{
    return Lanes{v, v, v, v};
}

// Filters `n` <= MaxCall samples of both channels, appending the squares of the outputs. The
// recursive halves of the filters run sample by sample, their recent outputs kept in registers.
void filterChannels(History &h, const float *left, const float *right, std::size_t n,
                    const Filters &f, std::array<std::vector<float>, 2> &squares)
{
    thread_local std::array<float, Order + MaxCall> input[2];
    thread_local std::array<float, MaxCall> fed[2];
    const float *samples[2] = {left, right};
    for (std::size_t ch = 0; ch < 2; ++ch) {
        std::copy(h[ch].input.begin(), h[ch].input.end(), input[ch].begin());
        std::copy(samples[ch], samples[ch] + n, input[ch].begin() + Order);
        for (std::size_t i = 0; i < n; ++i)
            fed[ch][i] = yuleInput(&input[ch][Order + i], f);
    }

    Lanes a[Order];
    for (int k = 0; k < Order; ++k)
        a[k] = both(f.yuleOut[k]);
    const Lanes b0 = both(f.butterIn[0]), b1 = both(f.butterIn[1]), b2 = both(f.butterIn[2]);
    const Lanes c0 = both(f.butterOut[0]), c1 = both(f.butterOut[1]);
    // y[k] is the Yule-Walker output k + 1 samples back, z1 and z2 the Butterworth's.
    Lanes y[Order];
    for (int k = 0; k < Order; ++k)
        y[k] = Lanes{h[0].yule[Order - 1 - k], h[1].yule[Order - 1 - k], 0, 0};
    Lanes z1{h[0].butter[1], h[1].butter[1], 0, 0};
    Lanes z2{h[0].butter[0], h[1].butter[0], 0, 0};

    const std::size_t had = squares[0].size();
    squares[0].resize(had + n);
    squares[1].resize(had + n);
    float *sq[2] = {squares[0].data() + had, squares[1].data() + had};
    for (std::size_t i = 0; i < n; ++i) {
        const Lanes out = (y[9] * a[0] + y[8] * a[1]) + (y[7] * a[2] + y[6] * a[3]) +
                          (y[5] * a[4] + y[4] * a[5]) + (y[3] * a[6] + y[2] * a[7]) +
                          (y[1] * a[8] + y[0] * a[9]);
        const Lanes yule = Lanes{fed[0][i], fed[1][i], 0, 0} - out;
        const Lanes z = (y[1] * b0 + y[0] * b1 + yule * b2) - (z2 * c0 + z1 * c1);
        for (int k = Order - 1; k > 0; --k)
            y[k] = y[k - 1];
        y[0] = yule;
        z2 = z1;
        z1 = z;
        const Lanes square = z * z;
        sq[0][i] = square[0];
        sq[1][i] = square[1];
    }

    for (std::size_t ch = 0; ch < 2; ++ch) {
        std::copy(input[ch].begin() + std::ptrdiff_t(n),
                  input[ch].begin() + std::ptrdiff_t(n) + Order, h[ch].input.begin());
        for (int k = 0; k < Order; ++k)
            h[ch].yule[std::size_t(Order - 1 - k)] = y[k][ch];
        h[ch].butter = {z2[ch], z1[ch]};
    }
}

// LAME sums a piece in float: the first (length mod 4) squares one by one, then in fours.
float pieceSum(const std::vector<float> &squares)
{
    const std::size_t head = squares.size() & 3;
    float sum = 0.0f;
    for (std::size_t i = 0; i < head; ++i)
        sum += squares[i];
    for (std::size_t i = head; i < squares.size(); i += 4)
        sum += squares[i] + squares[i + 1] + squares[i + 2] + squares[i + 3];
    return sum;
}

// The calls LAME's flush makes to its analysis after `samples` input samples: silence in bunches
// that fill its frame buffer to what the next frame needs, split into calls of at most a frame,
// until the last frame is out.
std::vector<int> flushCalls(std::int64_t samples, int frame)
{
    // LAME's buffer starts with EncoderDelay - MdctDelay samples of silence and encodes a frame
    // once it holds `needed`; the flush then pads the remainder to whole frames, at least
    // MinPadding samples.
    constexpr int EncoderDelay = 576, MdctDelay = 48, FftBlock = 1024, FftOffset = 224 + MdctDelay;
    constexpr int MinPadding = 576, MaxBunch = 1152;
    const int needed = std::max(FftBlock + frame - FftOffset, 512 + frame - 32);
    const std::int64_t fed = EncoderDelay - MdctDelay + samples;
    const std::int64_t encoded = fed >= needed ? (fed - needed) / frame + 1 : 0;
    std::int64_t held = fed - encoded * frame;
    const std::int64_t toEncode = EncoderDelay + samples - encoded * frame;
    std::int64_t padding = frame - toEncode % frame;
    if (padding < MinPadding)
        padding += frame;

    std::vector<int> calls;
    for (std::int64_t framesLeft = (toEncode + padding) / frame; framesLeft > 0;) {
        std::int64_t bunch = std::clamp<std::int64_t>(needed - held, 1, MaxBunch);
        bool encodedOne = false;
        while (bunch > 0) {
            const int n = int(std::min<std::int64_t>(bunch, frame));
            calls.push_back(n);
            bunch -= n;
            held += n;
            if (held >= needed) {
                held -= frame;
                encodedOne = true;
            }
        }
        framesLeft -= encodedOne ? 1 : 0;
    }
    return calls;
}

} // namespace

Histogram &Histogram::operator+=(const Histogram &other)
{
    for (std::size_t i = 0; i < Bins; ++i)
        counts[i] += other.counts[i];
    return *this;
}

bool Analysis::isSupportedRate(int sampleRate)
{
    return filtersFor(sampleRate) != nullptr;
}

int Analysis::blockLength(int sampleRate)
{
    constexpr int BlocksPerSecond = 20;
    return (sampleRate + BlocksPerSecond - 1) / BlocksPerSecond;
}

Analysis::Analysis(int sampleRate, std::int64_t start, const History &history)
    : m_filters(filtersFor(sampleRate)), m_block(blockLength(sampleRate)),
      m_frame(mp3frame::samplesPerFrame(sampleRate)), m_position(start),
      m_callStart(start - start % m_frame), m_callEnd(m_callStart + m_frame), m_history(history)
{
    for (auto &squares : m_squares)
        squares.reserve(MaxCall);
}

void Analysis::analyze(const float *left, const float *right, std::size_t n, int channels)
{
    if (!m_filters)
        return;
    if (channels == 1)
        right = left;
    // LAME analyses each frame's worth of input in one call.
    while (n > 0) {
        if (m_position == m_callEnd)
            startCall(m_frame);
        const auto run = std::size_t(std::min(std::int64_t(n), nextBoundary() - m_position));
        filterRun(left, right, run);
        left += run;
        right += run;
        n -= run;
    }
}

void Analysis::finish()
{
    if (!m_filters)
        return;
    closePiece(); // the input's last call ends here
    static const std::array<float, MaxCall> silence{};
    for (const int length : flushCalls(m_position, m_frame)) {
        startCall(length);
        while (m_position < m_callEnd) {
            const auto run = std::size_t(nextBoundary() - m_position);
            filterRun(silence.data(), silence.data(), run);
        }
    }
}

void Analysis::analyzeCall(const float *left, const float *right, std::size_t n, int channels)
{
    if (!m_filters)
        return;
    if (channels == 1)
        right = left;
    startCall(std::int64_t(n));
    while (m_position < m_callEnd) {
        const auto run = std::size_t(nextBoundary() - m_position);
        filterRun(left, right, run);
        left += run;
        right += run;
    }
}

// LAME sums squares in pieces that end at block ends, at call ends, and after a call's first
// Order samples, which it filters from a separate buffer.
std::int64_t Analysis::nextBoundary() const
{
    const std::int64_t blockEnd = (m_position / m_block + 1) * m_block;
    std::int64_t next = std::min(blockEnd, m_callEnd);
    if (m_callStart + Order > m_position)
        next = std::min(next, m_callStart + Order);
    return next;
}

void Analysis::startCall(std::int64_t length)
{
    m_callStart = m_position;
    m_callEnd = m_position + length;
}

// `n` samples that end at or before nextBoundary().
void Analysis::filterRun(const float *left, const float *right, std::size_t n)
{
    filterChannels(m_history, left, right, n, *m_filters, m_squares);
    m_position += std::int64_t(n);
    const bool blockEnd = m_position % m_block == 0;
    if (blockEnd || m_position == m_callEnd || m_position == m_callStart + Order)
        closePiece();
    if (blockEnd)
        closeBlock();
}

void Analysis::closePiece()
{
    for (std::size_t ch = 0; ch < 2; ++ch) {
        m_blockSums[ch] += double(pieceSum(m_squares[ch]));
        m_squares[ch].clear();
    }
}

void Analysis::closeBlock()
{
    constexpr double StepsPerDecibel = 100.0;
    constexpr double Floor = 1e-37; // keeps log10 finite on silence
    const double meanSquare = (m_blockSums[0] + m_blockSums[1]) / double(m_block) * 0.5 + Floor;
    const double level = StepsPerDecibel * 10.0 * std::log10(meanSquare);
    const std::size_t bin = level <= 0 ? 0 : std::size_t(level);
    ++m_histogram.counts[std::min(bin, Histogram::Bins - 1)];
    m_blockSums = {};
}

float titleGain(const Histogram &histogram)
{
    // The loudness 95 % of blocks stay below, against pink noise at the reference level.
    constexpr double LoudShare = 1.0 - 0.95;
    constexpr float PinkReference = 64.82f;
    constexpr float StepsPerDecibel = 100.0f;
    std::uint32_t blocks = 0;
    for (const std::uint32_t count : histogram.counts)
        blocks += count;
    if (blocks == 0)
        return NotEnoughSamples;
    const auto loudest = std::uint32_t(std::ceil(double(blocks) * LoudShare));
    std::uint32_t seen = 0;
    std::size_t bin = Histogram::Bins;
    while (bin-- > 0) {
        seen += histogram.counts[bin];
        if (seen >= loudest)
            break;
    }
    return PinkReference - float(bin) / StepsPerDecibel;
}

std::uint16_t radioGainField(float gain)
{
    constexpr std::uint16_t RadioName = 0x2000;
    constexpr std::uint16_t Automatic = 0x0C00;
    constexpr std::uint16_t Negative = 0x0200;
    constexpr int Largest = 0x1FE; // 51.0 dB
    int tenths = gain == NotEnoughSamples ? 0 : int(std::floor(double(gain) * 10.0 + 0.5));
    tenths = std::clamp(tenths, -Largest, Largest);
    const auto magnitude = std::uint16_t(tenths < 0 ? -tenths : tenths);
    return std::uint16_t(RadioName | Automatic | (tenths < 0 ? Negative : 0) | magnitude);
}

} // namespace replaygain
