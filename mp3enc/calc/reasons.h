#pragma once

#include <QString>

// Why a file could not be converted, in the words the user reads. The encoder reports each
// failure with one of these and an error number a host can sort by; hosts show the text as it is.
namespace reasons {

inline const QString NotFound = QStringLiteral("文件不存在");
inline const QString NotRegular = QStringLiteral("不是普通文件（管道、设备等）");
inline const QString Unreadable = QStringLiteral("没有读取这个文件的权限");
inline const QString AlreadyMp3 = QStringLiteral("已是MP3文件");
inline const QString NoSound = QStringLiteral("文件中没有声音");
inline const QString FolderMissing = QStringLiteral("输出目录不存在");
inline const QString FolderMoved = QStringLiteral("输出目录在转换期间被移走或换掉了，MP3没有写出");
inline const QString FolderNotWritable = QStringLiteral("没有在输出目录中写入的权限");
inline const QString NamesFolder = QStringLiteral("MP3会与一个文件夹同名");
inline const QString Protected = QStringLiteral("同名的MP3受写保护，保留未动");
inline const QString OverwritesInput = QStringLiteral("MP3会覆盖输入文件");
inline const QString InputChanged = QStringLiteral("输入文件在转换期间被改动了");
inline const QString InputEndedEarly = QStringLiteral("输入文件比它的文件头所说的短（可能已损坏）");
inline const QString EncoderFailed = QStringLiteral("MP3编码器出错");
inline const QString OutOfMemory = QStringLiteral("内存不足");
inline const QString PartOutside = QStringLiteral("要转换的一段不在文件之内");

// Audio the reader cannot take; `detail` is the reader's own account.
QString notAudio(const QString &detail);
// A read that failed part-way.
QString readFailed(const QString &detail);
// An output name longer than its folder allows.
QString nameTooLong(long maxBytes);
// More channels than stereo while mixing down is off.
QString tooManyChannels(int channels);
// Settings the MP3 encoder would not take.
QString settingsRefused(const QString &detail);
// A fault of the encoder itself, not of the file.
QString internalError(const QString &detail);

// A system call on the output failed with `error` (errno) during `step` ("写入MP3文件"); the
// text says what the user can do something about (a full disk, a missing permission).
QString outputFailed(const QString &step, int error);
// The error number a host sorts such a failure by (disk full, permission, path, device).
int outputErrorNumber(int error);

// What was left out of a file that converted (the encoder's LastNotice).
// A cover larger than the encoder carries (`limit`).
QString coverTooLarge(qint64 bytes, qint64 limit);
// A cover that the ID3v2 tag cannot hold.
QString coverOutgrowsTag(qint64 bytes);
// Tags that the ID3v2 tag cannot hold even without the cover.
QString tagsOutgrowTag(qint64 bytes);

} // namespace reasons
