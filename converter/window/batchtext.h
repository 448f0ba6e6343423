#pragma once

#include "converter/batch/batchreport.h"

#include <QList>
#include <QString>
#include <QStringList>

// The texts of the batch driver as the window shows them, kept apart from the window so they can
// be checked without one.

namespace batchtext {

inline const QString CrLf = QStringLiteral("\r\n");

inline const QString EmptyListPrompt = QStringLiteral("请添要转换的WAV文件");
inline const QString EmptyListTitle = QStringLiteral("末添加文件到列表");
inline const QString StartFailedPrompt = QStringLiteral("no");
inline const QString ConvertingPrefix = QStringLiteral("正在转换：");
inline const QString DonePrefix = QStringLiteral("已完成：");
inline const QString TimeSeparator = QStringLiteral(" 时间： ");
inline const QString TotalPrefix = QStringLiteral("编译 ");
inline const QString TotalSecondLine = QStringLiteral("      @ ");
inline const QString TotalSuffix = QStringLiteral(" Kbps");
inline const QString Congratulations = QStringLiteral("祝贺，转换已全部完成.");
inline const QString UserFolderLine = QStringLiteral("MP3输出目录为：");
inline const QString DefaultFolderLine = QStringLiteral("MP3输出目录为默认路径(与wav同一目录)");
inline const QString CompletedTitle = QStringLiteral("完成");

// Seconds of audio in one MP3 frame, as the time figure counts them.
constexpr double FrameSeconds = 0.026;
// At most this many skipped files are named in the completion message; the rest are counted.
constexpr int MaxNamedSkips = 10;

// `value` rounded to two decimals, halves to even.
double Round2(double value);
// Seconds taken so far over the seconds of audio done (`frame` frames), rounded to two decimals
// with halves to even; 0 before the first frame.
double TimeFigure(double elapsedSeconds, qint32 frame);
// A double in its shortest text form: no trailing zeros, up to 15 significant digits.
QString NumberText(double value);

// "已完成：" + percent text + " 时间： " + time figure.
QString ProgressLine(const QString &percentText, double timeFigure);
// "编译 " + name + CR LF + "      @ " + bit rate + " Kbps".
QString TotalCaption(const QString &fileName, qint32 bitRate);

// The completion message. A batch in which some files could not be converted says so and
// names them with their reasons; files converted with something left out (`notes`, the reason
// being what) and a fault of the batch itself (`problems`) are told after them; otherwise the
// message is the two lines alone.
QString CompletionMessage(bool userFolder, const QString &folder,
                          const QList<NotConverted> &notConverted = {},
                          const QStringList &problems = {}, const QList<NotConverted> &notes = {});

// The desktop notification's words for a batch that ended: the completion message's first line
// and the counts ("共3个文件，已转换1个，跳过1个，未转换1个", a count of none left out).
QString NotificationBody(const QString &completionMessage, const BatchReport &report);

} // namespace batchtext
