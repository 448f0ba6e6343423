#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The texts of the batch driver and the figures it shows, kept apart from the window so they can
// be checked without one.

namespace batchtext {

inline const QString CrLf = QStringLiteral("\r\n");

inline const QString EmptyListPrompt = QStringLiteral("请添要转换的WAV文件");
inline const QString EmptyListTitle = QStringLiteral("末添加文件到列表");
inline const QString StartFailedPrompt = QStringLiteral("no");
inline const QString Mp3Ending = QStringLiteral("mp3");
inline const QString ConvertingPrefix = QStringLiteral("正在转换：");
inline const QString PercentSuffix = QStringLiteral(" %");
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

// `s` without leading and trailing blanks (only U+0020, not other white space).
QString TrimBlanks(const QString &s);

// A character that must not stand as it is in a name made from tags or on a terminal: a control
// character (C0, DEL, C1), which moves the cursor or breaks a line, or a mark that turns or
// breaks what follows it (bidirectional embeddings, overrides, isolates and marks; line and
// paragraph separators).
bool IsControlCharacter(char16_t c);

// The output name for an input file name: blanks trimmed, then the last three characters
// (normally the "wav" ending in any case) replaced by "mp3". No value when fewer than three
// characters remain, since such a name cannot be given an ending. A name with the ending of
// another kind the encoder reads has that whole ending replaced ("a.flac" gives "a.mp3").
std::optional<QString> OutputFileName(const QString &inputFileName);

// Frame `frame` of `frameCount` in whole percent, halves to even, computed in 64 bits.
// A frame count of 0 (or less) gives 0.
qint32 FramePercent(qint32 frame, qint32 frameCount);
QString PercentText(qint32 percent);

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

// A file that was not converted, and why.
struct NotConverted
{
    QString file; // as shown: the path, bytes that are not UTF-8 as \xHH
    QString reason;
};
// The encoder ended well, yet no MP3 stands under the output's name.
inline const QString NotWritten = QStringLiteral("未能写出MP3文件");

// The completion message. A batch in which some files could not be converted says so and
// names them with their reasons; files converted with something left out (`notes`, the reason
// being what) and a fault of the batch itself (`problems`) are told after them; otherwise the
// message is the two lines alone.
QString CompletionMessage(bool userFolder, const QString &folder,
                          const QList<NotConverted> &notConverted = {},
                          const QStringList &problems = {}, const QList<NotConverted> &notes = {});
// Said of files converted with something left out of them.
inline const QString NotesHeading = QStringLiteral("以下文件已转换，但有内容没有放进MP3：");

} // namespace batchtext
