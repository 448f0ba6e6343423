#include "converter/encoder/mp3enc.h"

#include "runtime/comerror.h"
#include "runtime/componenthost.h"

namespace Mp3Enc {

rt::Control *Binding::control() const
{
    if (!m_host || !m_host->control())
        throw rt::ComError(rt::ErrCannotCreateObject, QStringLiteral("no encoder component"));
    return m_host->control();
}

qint32 Binding::bitRate() const
{
    return control()->getProperty(BitRate).toInt();
}

void Binding::setBitRate(qint32 bitsPerSecond)
{
    control()->putProperty(BitRate, bitsPerSecond);
}

void Binding::setDownMix(bool on)
{
    control()->putProperty(DownMix, on);
}

void Binding::setAllowDownSample(bool on)
{
    control()->putProperty(AllowDownSample, on);
}

void Binding::setThreads(qint32 threads)
{
    control()->putProperty(Threads, threads);
}

void Binding::setFilesToCome(qint32 files)
{
    control()->putProperty(FilesToCome, files);
}

void Binding::setRateMode(qint32 mode)
{
    control()->putProperty(RateMode, mode);
}

void Binding::setVbrQuality(qint32 quality)
{
    control()->putProperty(VbrQuality, quality);
}

void Binding::setIfExists(qint32 rule)
{
    control()->putProperty(IfExists, rule);
}

void Binding::setReplayGain(qint32 tags)
{
    control()->putProperty(ReplayGain, tags);
}

bool Binding::addToAlbum(const QString &album)
{
    return control()->invoke(AddToAlbum, {album}).toBool();
}

QString Binding::writeAlbumGain(const QString &album)
{
    return control()->invoke(WriteAlbumGain, {album}).toString();
}

void Binding::measureForAlbum(const QString &album, const QString &inputFile, const QString &mp3,
                              qint64 first, qint64 count)
{
    control()->invoke(MeasureForAlbum, {album, inputFile, mp3, first, count});
}

void Binding::forgetAlbum(const QString &album)
{
    control()->invoke(ForgetAlbum, {album});
}

qint16 Binding::open(const QString &inputFile, const QString &outputFile)
{
    return qint16(control()->invoke(Open, {inputFile, outputFile}).toInt());
}

qint16 Binding::encode()
{
    return qint16(control()->invoke(Encode, {}).toInt());
}

qint16 Binding::stop()
{
    return qint16(control()->invoke(Stop, {}).toInt());
}

void Binding::prefetch(const QString &inputFile, const QString &outputFile)
{
    control()->invoke(Prefetch, {inputFile, outputFile});
}

QString Binding::lastError() const
{
    return control()->getProperty(LastError).toString();
}

QVariantMap Binding::tags(const QString &inputFile) const
{
    return control()->invoke(Tags, {inputFile}).toMap();
}

void Binding::openPart(const QString &inputFile, const QString &outputFile, qint64 first,
                       qint64 count, const QVariantMap &tags)
{
    control()->invoke(OpenPart, {inputFile, outputFile, first, count, tags});
}

void Binding::prefetchPart(const QString &inputFile, const QString &outputFile, qint64 first,
                           qint64 count, const QVariantMap &tags)
{
    control()->invoke(PrefetchPart, {inputFile, outputFile, first, count, tags});
}

QString Binding::embeddedCueSheet(const QString &inputFile) const
{
    return control()->invoke(EmbeddedCueSheet, {inputFile}).toString();
}

std::pair<int, qint64> Binding::audioLength(const QString &inputFile) const
{
    const QVariantList length = control()->invoke(AudioLength, {inputFile}).toList();
    return {length.value(0).toInt(), length.value(1).toLongLong()};
}

QString Binding::lastNotice() const
{
    return control()->getProperty(LastNotice).toString();
}

QString Binding::lastOutput() const
{
    return control()->getProperty(LastOutput).toString();
}

qint32 Binding::frameCount() const
{
    return control()->invoke(GetFrameCount, {}).toInt();
}

QString Binding::retag(const QString &inputFile, const QString &mp3File, const QString &newMp3File,
                       const QVariantMap &tags) const
{
    return control()->invoke(Retag, {inputFile, mp3File, newMp3File, tags}).toString();
}

QByteArray Binding::frontCover(const QString &inputFile) const
{
    return control()->invoke(FrontCover, {inputFile}).toByteArray();
}

QString Binding::encoderVersion() const
{
    return control()->getProperty(EncoderVersion).toString();
}

} // namespace Mp3Enc
