#include "converter/files/pathhelpers.h"

namespace {

// Position (1-based) of the last character of `text` found in `separators`; 0 when none.
qsizetype lastOf(const QString &text, QStringView separators)
{
    for (qsizetype i = text.size(); i >= 1; --i) {
        if (separators.contains(text.at(i - 1)))
            return i;
    }
    return 0;
}

} // namespace

QString StripPath(const QString &T, const PathSeparators &sep)
{
    const qsizetype x = T.lastIndexOf(QChar(sep.directory));
    return x < 0 ? T : T.mid(x + 1);
}

QString ParsePath(const QString &sPathIn, const PathSeparators &sep)
{
    return sPathIn.left(lastOf(sPathIn, sep.folderEnds));
}

QString ParseFileName(const QString &sFileIn, const PathSeparators &sep)
{
    const char16_t directory[] = {sep.directory};
    const qsizetype n = lastOf(sFileIn, QStringView(directory, 1));
    return sFileIn.mid(n);
}

QString GetFileExt(const QString &sFileNameS)
{
    const qsizetype p = lastOf(sFileNameS, u".");
    return sFileNameS.right(sFileNameS.size() - p);
}
