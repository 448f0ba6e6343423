#include "mp3enc/calc/reasons.h"

#include "runtime/comerror.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace reasons {

QString notAudio(const QString &detail)
{
    return QStringLiteral("不是能转换的音频文件（%1）").arg(detail);
}

QString readFailed(const QString &detail)
{
    return QStringLiteral("读取输入文件时出错（%1）").arg(detail);
}

QString nameTooLong(long maxBytes)
{
    return QStringLiteral("MP3的文件名太长（这个目录中最长%1字节）").arg(maxBytes);
}

QString tooManyChannels(int channels)
{
    return QStringLiteral("有%1个声道，又不允许缩混为立体声").arg(channels);
}

QString settingsRefused(const QString &detail)
{
    return QStringLiteral("MP3编码器不接受这些设置（%1）").arg(detail);
}

QString internalError(const QString &detail)
{
    return QStringLiteral("编码器内部出错（%1）").arg(detail);
}

QString outputFailed(const QString &step, int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("磁盘空间不足");
    case EDQUOT:
        return QStringLiteral("超出了磁盘配额");
    case EFBIG:
        return QStringLiteral("MP3超过了允许的文件大小");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有权限%1").arg(step);
    case EROFS:
        return QStringLiteral("输出目录所在的文件系统是只读的");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("输出目录已不存在");
    default:
        return QStringLiteral("%1时出错（%2）")
            .arg(step, QString::fromLocal8Bit(std::strerror(error)));
    }
}

int outputErrorNumber(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return rt::ErrDiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return rt::ErrPermissionDenied;
    case ENOENT:
    case ENOTDIR:
        return rt::ErrPathNotFound;
    case EISDIR: // as Open refuses an output that names a folder
        return rt::ErrPathFileAccess;
    default:
        return rt::ErrDeviceIO;
    }
}

namespace {

// Whole megabytes, at least 1.
qint64 megabytes(qint64 bytes)
{
    return std::max<qint64>(1, (bytes + (1 << 19)) >> 20);
}

} // namespace

QString coverTooLarge(qint64 bytes, qint64 limit)
{
    return QStringLiteral("封面图片太大（%1 MB，上限%2 MB），没有放进MP3")
        .arg(megabytes(bytes))
        .arg(megabytes(limit));
}

QString coverOutgrowsTag(qint64 bytes)
{
    return QStringLiteral("封面图片太大（%1 MB），ID3v2标签装不下，没有放进MP3")
        .arg(megabytes(bytes));
}

QString tagsOutgrowTag(qint64 bytes)
{
    return QStringLiteral("标签太长（%1 MB），ID3v2标签装不下，没有放进MP3").arg(megabytes(bytes));
}

} // namespace reasons
