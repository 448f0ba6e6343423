#include "tests/mp3enc/encoderfixture.h"

#include "runtime/comerror.h"
#include "runtime/objectfactory.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QtTest>
#include <sndfile.h>

void RecordingSite::fireEvent(rt::DispId id, QVariantList &args)
{
    events.append({id, args, QThread::currentThread() == m_thread});
    if (onEvent)
        onEvent(id);
}

int RecordingSite::count(rt::DispId id) const
{
    return int(
        std::count_if(events.begin(), events.end(), [id](const Event &e) { return e.id == id; }));
}

EncoderFixture::EncoderFixture()
{
    if (!testsupport::registerBuiltComponent(QStringLiteral("Mp3Enc.ocx")))
        return;
    try {
        control = rt::createObject(QStringLiteral("MP3ENCLib.Mp3Enc"), &site);
    } catch (const rt::ComError &e) {
        qWarning("cannot create the encoder: %s", qPrintable(e.description()));
    }
}

bool EncoderFixture::convert(const QString &input, const QString &output, int timeoutMs)
{
    try {
        control->call(QStringLiteral("Open"), {input, output});
        control->call(QStringLiteral("Encode"));
    } catch (const rt::ComError &e) {
        qWarning("conversion refused: %s", qPrintable(e.description()));
        return false;
    }
    return QTest::qWaitFor([this] { return site.ended(); }, timeoutMs);
}

QByteArray fileDigest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

bool runTool(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(120000))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

Decoded decode(const QString &mp3, const QString &scratchFolder)
{
    Decoded result;
    const QString wav = QDir(scratchFolder).filePath(QStringLiteral("decoded.wav"));
    QFile::remove(wav);
    if (!runTool(QStringLiteral("mpg123"), {QStringLiteral("-q"), QStringLiteral("-w"), wav, mp3}))
        return result;
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(wav).constData(), SFM_READ, &info);
    if (!file)
        return result;
    result = {info.frames, info.channels, info.samplerate};
    sf_close(file);
    return result;
}

namespace {

void putLe(QByteArray &b, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.append(char((value >> (8 * i)) & 0xFF));
}

} // namespace

bool SparseWav::write(const QString &path) const
{
    QByteArray h("RIFF");
    putLe(h, 0xFFFFFFFFu, 4);
    h.append("WAVEfmt ");
    putLe(h, 16, 4);
    putLe(h, quint32(format), 2);
    putLe(h, quint32(channels), 2);
    putLe(h, 44100, 4);
    putLe(h, quint32(44100 * channels * bitsPerSample / 8), 4);
    putLe(h, quint32(channels * bitsPerSample / 8), 2);
    putLe(h, quint32(bitsPerSample), 2);
    h.append(before);
    h.append("data");
    putLe(h, declared, 4);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(h) != h.size() ||
        !file.resize(h.size() + dataBytes))
        return false;
    return trailer.isEmpty() ||
           (file.seek(h.size() + qint64(declared)) && file.write(trailer) == trailer.size());
}
