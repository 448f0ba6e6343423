#include "converter/files/cuesheet.h"

#include <algorithm>
#include <optional>

namespace cuesheet {

namespace {

// A line's command (its first word, in capitals) and what follows it.
struct Line
{
    QString command;
    QString rest;
};

Line split(QStringView line)
{
    line = line.trimmed();
    qsizetype end = 0;
    while (end < line.size() && !line[end].isSpace())
        ++end;
    return {line.first(end).toString().toUpper(), line.sliced(end).trimmed().toString()};
}

// A quoted value up to its closing quote (or the line's end), else the words as they stand.
QString value(const QString &rest)
{
    if (!rest.startsWith(u'"'))
        return rest;
    const qsizetype close = rest.indexOf(u'"', 1);
    return (close < 0 ? rest.mid(1) : rest.mid(1, close - 1)).trimmed();
}

// FILE's name: quoted, or the words before the file's type.
QString fileName(const QString &rest)
{
    if (rest.startsWith(u'"'))
        return value(rest);
    qsizetype last = rest.size();
    while (last > 0 && !rest[last - 1].isSpace())
        --last;
    return last > 0 ? rest.left(last).trimmed() : rest;
}

// "mm:ss:ff" in CD frames; -1 when it is not one.
qint64 cdFrames(QStringView time)
{
    const QList<QStringView> parts = time.split(u':');
    if (parts.size() != 3)
        return -1;
    qint64 values[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (parts[i].isEmpty() || parts[i].size() > 6)
            return -1;
        for (const QChar c : parts[i]) {
            if (c < u'0' || c > u'9')
                return -1;
            values[i] = values[i] * 10 + (c.unicode() - u'0');
        }
    }
    if (values[1] >= 60 || values[2] >= 75)
        return -1;
    return (values[0] * 60 + values[1]) * 75 + values[2];
}

// The sheet read line by line; what it does not know (CATALOG, FLAGS, ISRC, REM COMMENT, ...)
// is passed over.
class Reader
{
public:
    Sheet read(const QString &text);

private:
    std::optional<QString> take(int lineNumber, const Line &line);
    std::optional<QString> index(int lineNumber, const QString &rest);
    std::optional<QString> endTrack() const;
    void tag();

    Sheet m_sheet;
    QMap<QString, QString> m_album; // TITLE, PERFORMER, DATE, GENRE before the first TRACK
    int m_file = -1;
    bool m_anyIndex = false; // the current track has an INDEX line
    bool m_started = false;  // and its INDEX 01
};

Sheet Reader::read(const QString &text)
{
    QString unified = text;
    unified.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    const QStringList lines = unified.split(u'\n');
    std::optional<QString> problem;
    for (qsizetype i = 0; !problem && i < lines.size(); ++i)
        problem = take(int(i + 1), split(lines[i]));
    if (!problem && m_sheet.tracks.isEmpty())
        problem = QStringLiteral("CUE文件读不懂，或者没有音轨");
    if (!problem)
        problem = endTrack();
    for (int f = 0; !problem && f < m_sheet.files.size(); ++f) {
        const bool used = std::any_of(m_sheet.tracks.cbegin(), m_sheet.tracks.cend(),
                                      [f](const Track &track) { return track.file == f; });
        if (!used)
            problem = QStringLiteral("CUE文件中FILE“%1”下没有音轨").arg(m_sheet.files[f]);
    }
    if (problem)
        m_sheet.problem = *problem;
    else
        tag();
    return m_sheet;
}

std::optional<QString> Reader::take(int lineNumber, const Line &line)
{
    const bool inTrack = !m_sheet.tracks.isEmpty();
    QMap<QString, QString> &tags = inTrack ? m_sheet.tracks.last().tags : m_album;
    if (line.command == QLatin1String("FILE")) {
        const QString name = fileName(line.rest);
        if (name.isEmpty())
            return QStringLiteral("CUE文件第%1行的FILE没有文件名").arg(lineNumber);
        // Some rippers repeat the FILE line before every track of one image.
        m_file = int(m_sheet.files.indexOf(name));
        if (m_file < 0) {
            m_sheet.files.append(name);
            m_file = int(m_sheet.files.size() - 1);
        }
    } else if (line.command == QLatin1String("TRACK")) {
        if (m_file < 0)
            return QStringLiteral("CUE文件第%1行的TRACK前面没有FILE").arg(lineNumber);
        if (const auto problem = inTrack ? endTrack() : std::nullopt)
            return problem;
        Track track;
        track.file = m_file;
        m_sheet.tracks.append(track);
        m_anyIndex = m_started = false;
    } else if (line.command == QLatin1String("INDEX")) {
        return index(lineNumber, line.rest);
    } else if (line.command == QLatin1String("TITLE") ||
               line.command == QLatin1String("PERFORMER") ||
               line.command == QLatin1String("SONGWRITER")) {
        tags.insert(line.command, value(line.rest));
    } else if (line.command == QLatin1String("REM") && !inTrack) {
        const Line remark = split(line.rest);
        if (remark.command == QLatin1String("DATE") || remark.command == QLatin1String("GENRE"))
            m_album.insert(remark.command, value(remark.rest));
    }
    return std::nullopt;
}

std::optional<QString> Reader::index(int lineNumber, const QString &rest)
{
    if (m_sheet.tracks.isEmpty())
        return QStringLiteral("CUE文件第%1行的INDEX不在任何TRACK之下").arg(lineNumber);
    const Line words = split(rest);
    bool isNumber = false;
    const int number = words.command.toInt(&isNumber);
    const qint64 at = cdFrames(words.rest);
    if (!isNumber || number < 0 || number > 99 || at < 0)
        return QStringLiteral("CUE文件第%1行的INDEX读不懂").arg(lineNumber);
    m_anyIndex = true;
    if (number != 1)
        return std::nullopt; // a pre-gap's start or a mark inside the track: nothing is cut there
    if (m_started)
        return QStringLiteral("CUE文件中第%1轨有两个INDEX 01").arg(m_sheet.tracks.size());
    m_started = true;
    Track &track = m_sheet.tracks.last();
    track.file = m_file; // after a pre-gap at the end of the file before, it begins in this one
    track.start = at;
    return std::nullopt;
}

std::optional<QString> Reader::endTrack() const
{
    const qsizetype number = m_sheet.tracks.size();
    if (!m_anyIndex)
        return QStringLiteral("CUE文件中第%1轨没有INDEX，不知道它从哪里开始").arg(number);
    if (!m_started)
        return QStringLiteral("CUE文件中第%1轨只有INDEX 00，没有INDEX 01").arg(number);
    return std::nullopt;
}

// The names a track's MP3 is tagged with: its own, else the album's.
void Reader::tag()
{
    const qsizetype count = m_sheet.tracks.size();
    for (qsizetype i = 0; i < count; ++i) {
        Track &track = m_sheet.tracks[i];
        const QMap<QString, QString> own = track.tags;
        const QString performer = own.value(QStringLiteral("PERFORMER"));
        const QString albumArtist = m_album.value(QStringLiteral("PERFORMER"));
        const std::pair<const char *, QString> fields[] = {
            {"title", own.value(QStringLiteral("TITLE"))},
            {"artist", performer.isEmpty() ? albumArtist : performer},
            {"album", m_album.value(QStringLiteral("TITLE"))},
            {"albumartist", albumArtist},
            {"composer", own.value(QStringLiteral("SONGWRITER"))},
            {"genre", m_album.value(QStringLiteral("GENRE"))},
            {"date", m_album.value(QStringLiteral("DATE"))},
            {"track", QStringLiteral("%1/%2").arg(i + 1).arg(count)},
        };
        track.tags.clear();
        for (const auto &[field, text] : fields) {
            if (!text.isEmpty())
                track.tags.insert(QLatin1String(field), text);
        }
    }
}

} // namespace

Sheet Parse(const QString &text)
{
    return Reader().read(text);
}

std::variant<QList<Track>, QString> Cut(const Sheet &sheet, int file, int sampleRate, qint64 frames)
{
    QList<Track> cut;
    for (qsizetype i = 0; i < sheet.tracks.size(); ++i) {
        Track track = sheet.tracks[i];
        if (track.file != file)
            continue;
        // CD frames in the file's frames: exact for the rates CDs and DATs use.
        const qint64 indexed = track.start * sampleRate / 75;
        const qint64 at = cut.isEmpty() ? 0 : indexed;
        if (!cut.isEmpty() && at <= cut.last().first)
            return QStringLiteral("CUE文件中第%1轨的时间不在前一轨之后").arg(i + 1);
        if (indexed >= frames)
            return QStringLiteral("CUE文件中第%1轨的时间超出了音频文件的长度").arg(i + 1);
        if (!cut.isEmpty())
            cut.last().count = at - cut.last().first;
        track.first = at;
        cut.append(track);
    }
    if (!cut.isEmpty())
        cut.last().count = frames - cut.last().first;
    return cut;
}

} // namespace cuesheet
