#include "converter/batch/namepattern.h"

#include "converter/batch/batchfigures.h"
#include "runtime/filename.h"

#include <QStringList>

namespace namepattern {

namespace {

const QString UnknownArtist = QStringLiteral("未知艺术家");
const QString UnknownAlbum = QStringLiteral("未知专辑");
const QString Ending = QStringLiteral(".mp3");

const QStringList Fields = {
    QStringLiteral("artist"), QStringLiteral("albumartist"), QStringLiteral("album"),
    QStringLiteral("title"),  QStringLiteral("track"),       QStringLiteral("disc"),
    QStringLiteral("genre"),  QStringLiteral("date"),        QStringLiteral("filename")};

bool takesWidth(const QString &field)
{
    return field == QLatin1String("track") || field == QLatin1String("disc");
}

// One "{field}" or "{field:0N}" at `at` (the opening brace): its field and width, and where the
// text after it begins; nothing when it is not one.
struct Placeholder
{
    QString field;
    int width = 0;
    qsizetype next = 0;
};
std::optional<Placeholder> placeholderAt(const QString &pattern, qsizetype at)
{
    const qsizetype close = pattern.indexOf(u'}', at);
    if (close < 0)
        return std::nullopt;
    const QString inside = pattern.mid(at + 1, close - at - 1);
    Placeholder p{inside.section(u':', 0, 0), 0, close + 1};
    if (inside.contains(u':')) {
        bool ok = false;
        p.width = inside.section(u':', 1).toInt(&ok);
        if (!ok || p.width < 1 || p.width > 9 || !takesWidth(p.field))
            return std::nullopt;
    }
    return p;
}

QString fileStem(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot > 0 ? fileName.left(dot) : fileName;
}

// A tag's value, trimmed; "." and ".." name no folder or file and count as missing.
QString tagValue(const Tags &tags, const QString &field)
{
    const QString value = tags.value(field).trimmed();
    return value == u'.' || value == QLatin1String("..") ? QString() : value;
}

QString valueOf(const Placeholder &p, const Tags &tags, const QString &fileName)
{
    const QString given = tagValue(tags, p.field);
    if (p.field == QLatin1String("albumartist")) {
        const QString albumArtist =
            given.isEmpty() ? tagValue(tags, QStringLiteral("artist")) : given;
        return albumArtist.isEmpty() ? UnknownArtist : albumArtist;
    }
    if (p.field == QLatin1String("artist"))
        return given.isEmpty() ? UnknownArtist : given;
    if (p.field == QLatin1String("album"))
        return given.isEmpty() ? UnknownAlbum : given;
    if (p.field == QLatin1String("title"))
        return given.isEmpty() ? fileStem(fileName) : given;
    if (p.field == QLatin1String("filename"))
        return fileStem(fileName);
    if (takesWidth(p.field)) {
        const QString number = given.section(u'/', 0, 0).trimmed(); // "7/12" is track 7
        return number.isEmpty() ? number : number.rightJustified(p.width, u'0');
    }
    return given;
}

// A value may not make folders of its own, nor move the cursor or turn the text of whoever lists
// the names.
QString cleaned(QString value)
{
    for (QChar &c : value) {
        if (c == u'/' || batchfigures::IsControlCharacter(c.unicode()))
            c = u'_';
    }
    return value;
}

} // namespace

std::optional<QString> Problem(const QString &pattern)
{
    if (pattern.trimmed().isEmpty())
        return QStringLiteral("名字模板是空的");
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == u'}')
            return QStringLiteral("名字模板中有多余的“}”");
        if (pattern[i] != u'{')
            continue;
        const std::optional<Placeholder> p = placeholderAt(pattern, i);
        if (!p || !Fields.contains(p->field))
            return QStringLiteral("名字模板中的“%1”不是可用的字段；可用的有 {%2}，"
                                  "{track} 和 {disc} 可写宽度，如 {track:02}")
                .arg(pattern.mid(i, p ? p->next - i : pattern.size() - i),
                     Fields.join(QStringLiteral("}、{")));
        i = p->next - 1;
    }
    return std::nullopt;
}

QString Expand(const QString &pattern, const Tags &tags, const QString &fileName, int maxBytes)
{
    QString text;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const std::optional<Placeholder> p =
            pattern[i] == u'{' ? placeholderAt(pattern, i) : std::nullopt;
        if (!p) {
            text += pattern[i];
            continue;
        }
        text += cleaned(valueOf(*p, tags, fileName));
        i = p->next - 1;
    }
    // Folders as the pattern's own '/' make them; empty ones and dot names go.
    QStringList parts;
    for (const QString &part : text.split(u'/')) {
        const QString trimmed = part.trimmed();
        if (trimmed.isEmpty() || trimmed == u'.' || trimmed == QLatin1String(".."))
            continue;
        parts.append(trimmed);
    }
    if (parts.isEmpty())
        parts.append(fileStem(fileName));
    for (qsizetype k = 0; k < parts.size(); ++k) {
        const bool last = k + 1 == parts.size();
        parts[k] = rt::cutFileName(parts[k], maxBytes - (last ? int(Ending.size()) : 0));
    }
    return parts.join(u'/');
}

} // namespace namepattern
