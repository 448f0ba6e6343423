#include "converter/batch/encodersettings.h"

#include "runtime/comerror.h"

#include <exception>

QList<SettingFailure> EncoderSettings::apply(Mp3Enc::Binding mp3, const BatchOptions &options)
{
    QList<SettingFailure> failures;
    const auto attempt = [&failures](const QString &setting, const auto &step) {
        try {
            step();
        } catch (const std::exception &error) {
            failures.append({setting, rt::reasonOf(error)});
        }
    };
    // What the last profile asked for; the first is put whole, against an encoder's own
    // settings at its creation (a constant rate).
    const BatchOptions before = m_last.value_or(BatchOptions{});
    const bool first = !m_last;
    m_last = options;
    const RateChoice &rate = options.rate;
    if (rate.mode != before.rate.mode)
        attempt(QStringLiteral("比特率方式%1").arg(rate.mode), [&] { mp3.setRateMode(rate.mode); });
    if (rate.mode == Mp3Enc::VariableRate) {
        if (first || rate.vbrQuality != before.rate.vbrQuality)
            attempt(QStringLiteral("可变比特率质量%1").arg(rate.vbrQuality),
                    [&] { mp3.setVbrQuality(rate.vbrQuality); });
    } else if (first || rate.bitRate != before.rate.bitRate) {
        attempt(QStringLiteral("比特率%1").arg(rate.bitRate),
                [&] { mp3.setBitRate(rate.bitRate); });
    }
    if (first) {
        attempt(QStringLiteral("允许降低采样率"), [&] { mp3.setAllowDownSample(true); });
        attempt(QStringLiteral("缩混为立体声"), [&] { mp3.setDownMix(true); });
    }
    if (options.threads && (first || options.threads != before.threads))
        attempt(QStringLiteral("线程数%1").arg(*options.threads),
                [&] { mp3.setThreads(*options.threads); });
    // None is the encoder's own: a profile without ReplayGain puts nothing new.
    if (options.replayGain != before.replayGain)
        attempt(QStringLiteral("ReplayGain"),
                [&] { mp3.setReplayGain(ReplayGainFor(options.replayGain)); });
    if (first || options.existing != before.existing)
        attempt(QStringLiteral("同名文件的规则"),
                [&] { mp3.setIfExists(IfExistsFor(options.existing)); });
    return failures;
}

qint32 IfExistsFor(ExistingRule rule)
{
    switch (rule) {
    case ExistingRule::Skip:
        return Mp3Enc::KeepExisting;
    case ExistingRule::Rename:
        return Mp3Enc::RenameNew;
    case ExistingRule::Update:
        return Mp3Enc::ReplaceOlder;
    case ExistingRule::Overwrite:
        break;
    }
    return Mp3Enc::ReplaceExisting;
}

qint32 ReplayGainFor(ReplayGainTags tags)
{
    switch (tags) {
    case ReplayGainTags::Track:
        return Mp3Enc::TrackGainOnly;
    case ReplayGainTags::Album:
        return Mp3Enc::AlbumGain;
    case ReplayGainTags::None:
        break;
    }
    return Mp3Enc::NoReplayGain;
}
