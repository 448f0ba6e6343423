#include "converter/console/consoletext.h"

#include "converter/main/batchtext.h"
#include "runtime/comerror.h"
#include "runtime/filename.h"

#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace consoletext {

namespace {

constexpr int ErrInvalidFileFormat = 321; // the encoder's "not audio it can read"
const QString Ellipsis = QStringLiteral("…");

bool exists(const QString &path)
{
    return !path.isEmpty() && ::access(rt::encodeFileName(path).constData(), F_OK) == 0;
}

// As the encoder judges it: no write bit at all, or none for this user.
bool writeProtected(const QString &path)
{
    const QByteArray bytes = rt::encodeFileName(path);
    struct stat st = {};
    return ::stat(bytes.constData(), &st) == 0 &&
           ((st.st_mode & 0222) == 0 || ::access(bytes.constData(), W_OK) != 0);
}

bool mayRead(const QString &path)
{
    return ::access(rt::encodeFileName(path).constData(), R_OK) == 0;
}

bool isWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

QString counter(int k, int n)
{
    return QStringLiteral("[%1/%2]").arg(k).arg(n);
}

} // namespace

QString EncoderReason(int errorNumber, const QString &input, const QString &output)
{
    switch (errorNumber) {
    case rt::ErrFileNotFound:
        return NotFound;
    case ErrInvalidFileFormat:
        return QStringLiteral("不是能转换的音频文件，或已是MP3、没有声音");
    case rt::ErrPermissionDenied:
        if (exists(output) && writeProtected(output))
            return QStringLiteral("同名的MP3受写保护，保留未动");
        if (!mayRead(input))
            return QStringLiteral("没有读取这个文件的权限");
        return QStringLiteral("没有在输出目录中写入的权限");
    case rt::ErrPathNotFound:
        return QStringLiteral("输出目录不存在");
    case rt::ErrPathFileAccess:
        return QStringLiteral("MP3会与输入文件或一个文件夹同名");
    case rt::ErrBadFileName:
        return QStringLiteral("MP3的文件名太长");
    case rt::ErrDiskFull:
        return QStringLiteral("磁盘空间不足");
    case rt::ErrDeviceIO:
        return QStringLiteral("读写文件时出错");
    case rt::ErrInvalidCall:
        return QStringLiteral("编码器不接受这个文件");
    default:
        return QStringLiteral("转换失败（错误 %1）").arg(errorNumber);
    }
}

std::optional<qint64> SecondsLeft(double elapsedSeconds, double done, double total)
{
    // Less than a second or a percent in, the rate says little.
    if (elapsedSeconds < 1.0 || done <= 0.0 || total <= 0.0 || done < total / 100.0)
        return std::nullopt;
    const double left = elapsedSeconds * std::max(total - done, 0.0) / done;
    return qint64(std::llround(left));
}

QString TimeLeftText(std::optional<qint64> seconds)
{
    if (!seconds)
        return QStringLiteral("剩余时间估算中");
    const qint64 s = *seconds;
    if (s < 60)
        return QStringLiteral("剩余约 %1秒").arg(s);
    if (s < 3600)
        return QStringLiteral("剩余约 %1分%2秒").arg(s / 60).arg(s % 60, 2, 10, QChar(u'0'));
    return QStringLiteral("剩余约 %1小时%2分").arg(s / 3600).arg(s / 60 % 60, 2, 10, QChar(u'0'));
}

int DisplayWidth(const QString &text)
{
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += isWide(c) ? 2 : 1;
    return width;
}

QString ElideMiddle(const QString &name, int columns)
{
    if (DisplayWidth(name) <= columns)
        return name;
    if (columns <= 1)
        return columns == 1 ? Ellipsis : QString();
    const QList<uint> chars = name.toUcs4();
    // Keep as much of the head and the tail (where the ending is) as fits.
    QString head, tail;
    int room = columns - 1;
    qsizetype front = 0, back = chars.size() - 1;
    bool fromFront = true;
    while (front <= back) {
        const char32_t c = fromFront ? chars[front] : chars[back];
        const int w = isWide(c) ? 2 : 1;
        if (w > room)
            break;
        room -= w;
        if (fromFront) {
            head += QString::fromUcs4(&c, 1);
            ++front;
        } else {
            tail.prepend(QString::fromUcs4(&c, 1));
            --back;
        }
        fromFront = !fromFront;
    }
    return head + Ellipsis + tail;
}

QString ProgressLine(int k, int n, const QString &name, qint32 percent, const QString &timeLeft,
                     int columns)
{
    const QString head = counter(k, n) + u' ';
    const QString rest =
        QStringLiteral("  ") + batchtext::PercentText(percent) + QStringLiteral("  ") + timeLeft;
    // One column stays free: a line that fills the last column wraps on some terminals.
    const int room = columns - 1 - DisplayWidth(head) - DisplayWidth(rest);
    return head + ElideMiddle(name, std::max(room, 8)) + rest;
}

QString ConvertedLine(int k, int n, const QString &input, const QString &output)
{
    return counter(k, n) + QStringLiteral(" 已转换：") + input + QStringLiteral(" → ") + output;
}

QString NotConvertedLine(int k, int n, const QString &input, const QString &reason)
{
    return counter(k, n) + QStringLiteral(" 未转换：") + input + QStringLiteral("（") + reason +
           QStringLiteral("）");
}

QString Summary(int total, const QList<NotConverted> &notConverted, bool interrupted)
{
    QString text;
    if (interrupted)
        text += QStringLiteral("转换已中断。\n");
    const qsizetype failed = notConverted.size();
    if (failed == 0)
        return text + QStringLiteral("全部 %1 个文件已转换为MP3。\n").arg(total);
    text += QStringLiteral("%1 个文件中 %2 个已转换，%3 个未转换：\n")
                .arg(total)
                .arg(total - failed)
                .arg(failed);
    for (const NotConverted &file : notConverted)
        text += QStringLiteral("  ") + file.file + QStringLiteral("：") + file.reason + u'\n';
    return text;
}

} // namespace consoletext
