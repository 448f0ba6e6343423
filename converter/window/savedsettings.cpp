#include "converter/window/savedsettings.h"

#include "converter/window/settingstext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace savedsettings {

namespace {

const QString Mode = QStringLiteral("quality/mode");
const QString BitRate = QStringLiteral("quality/bitrate");
const QString VbrQuality = QStringLiteral("quality/vbr");
const QString Pattern = QStringLiteral("names/pattern");
const QString Existing = QStringLiteral("names/existing");
const QString ReplayGain = QStringLiteral("replaygain/tags");

int intOf(const QSettings &file, const QString &key, int fallback, bool *ok)
{
    const QVariant value = file.value(key);
    if (!value.isValid())
        return fallback;
    bool read = false;
    const int number = value.toString().toInt(&read);
    *ok = *ok && read;
    return read ? number : fallback;
}

} // namespace

QString FilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/batchmp3/settings.ini");
}

Loaded Load(const QString &path, const BatchOptions &base)
{
    if (!QFileInfo::exists(path))
        return {};
    QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError)
        return {std::nullopt, QStringLiteral("无法读取 ") + path};
    BatchOptions options = base;
    bool ok = true;
    options.rate.mode = intOf(file, Mode, options.rate.mode, &ok);
    options.rate.bitRate = intOf(file, BitRate, options.rate.bitRate, &ok);
    options.rate.vbrQuality = intOf(file, VbrQuality, options.rate.vbrQuality, &ok);
    options.pattern = file.value(Pattern, options.pattern).toString();
    const int existing = intOf(file, Existing, int(options.existing), &ok);
    const int gain = intOf(file, ReplayGain, int(options.replayGain), &ok);
    const bool modeKnown =
        options.rate.mode >= Mp3Enc::ConstantRate && options.rate.mode <= Mp3Enc::AverageRate;
    if (!ok || !modeKnown || existing < 0 || existing > int(ExistingRule::Update) || gain < 0 ||
        gain > int(ReplayGainTags::Album))
        return {std::nullopt, path + QStringLiteral(" 中有无法识别的设置")};
    options.existing = ExistingRule(existing);
    options.replayGain = ReplayGainTags(gain);
    // A pattern needs the output folder the main window gives later: the choices alone here.
    if (const auto problem = CheckChoices(options))
        return {std::nullopt, settingstext::ProblemText(*problem)};
    return {options, {}};
}

QString Save(const QString &path, const BatchOptions &options)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return QStringLiteral("无法建立文件夹 ") + QFileInfo(path).path();
    QSettings file(path, QSettings::IniFormat);
    file.setValue(Mode, options.rate.mode);
    file.setValue(BitRate, options.rate.bitRate);
    file.setValue(VbrQuality, options.rate.vbrQuality);
    file.setValue(Pattern, options.pattern);
    file.setValue(Existing, int(options.existing));
    file.setValue(ReplayGain, int(options.replayGain));
    file.sync();
    if (file.status() != QSettings::NoError)
        return QStringLiteral("无法写入 ") + path;
    return {};
}

QString Forget(const QString &path)
{
    if (QFileInfo::exists(path) && !QFile::remove(path))
        return QStringLiteral("无法删除 ") + path;
    return {};
}

} // namespace savedsettings
