#pragma once

#include <QString>
#include <QStringView>

// The four path functions of the main window. They work on UTF-16 code units, compare
// case-sensitively and never fail: an empty argument gives an empty result.
//
// The separators are a parameter so the same functions serve POSIX paths (the default) and
// Windows paths ("C:\music\song.wav", where a drive colon also ends a folder for ParsePath).
struct PathSeparators
{
    char16_t directory;     // ends a folder name
    QStringView folderEnds; // what ParsePath stops at: the directory separator, the drive colon
};

inline constexpr PathSeparators PosixSeparators{u'/', u"/"};
inline constexpr PathSeparators WindowsSeparators{u'\\', u":\\"};
inline constexpr PathSeparators PlatformSeparators = PosixSeparators;

// The text after the last directory separator; `T` unchanged when it holds none.
QString StripPath(const QString &T, const PathSeparators &sep = PlatformSeparators);
// The text up to and including the last folder end; empty when there is none.
QString ParsePath(const QString &sPathIn, const PathSeparators &sep = PlatformSeparators);
// The text after the last directory separator; the whole text when it holds none.
QString ParseFileName(const QString &sFileIn, const PathSeparators &sep = PlatformSeparators);
// The text after the last "."; the whole text when it holds none (a folder's dot counts too).
QString GetFileExt(const QString &sFileNameS);
