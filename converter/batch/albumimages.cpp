#include "converter/batch/albumimages.h"

#include "converter/files/cuefiles.h"
#include "converter/files/cuesheet.h"
#include "converter/files/pathhelpers.h"
#include "runtime/comerror.h"
#include "runtime/filename.h"

#include <QDir>
#include <QHash>
#include <algorithm>
#include <variant>

namespace {

QString shownName(const QString &path)
{
    return rt::displayFileName(ParseFileName(path));
}

// A sheet, its files found: what an album's tracks are cut by.
struct Album
{
    QString sheetPath;      // "" for the sheet a FLAC file carries
    cuesheet::Sheet sheet;  // its problem: why it cannot be used
    QList<CueImage> images; // for each of its files
    QString note;           // for every track: names that may be read wrong
};

Album readAlbum(const QString &sheetPath)
{
    Album album;
    album.sheetPath = sheetPath;
    const auto read = ReadCueFile(sheetPath);
    if (const QString *problem = std::get_if<QString>(&read)) {
        album.sheet.problem = *problem;
        return album;
    }
    const cuesheet::Text &text = std::get<cuesheet::Text>(read);
    album.sheet = cuesheet::Parse(text.text);
    for (const QString &named : std::as_const(album.sheet.files))
        album.images.append(FindCueImage(ParsePath(sheetPath), named));
    if (text.doubtful)
        album.note = QStringLiteral("CUE文件“%1”的文字编码没有把握（按%2读出），曲名可能不对")
                         .arg(shownName(sheetPath), text.encoding);
    return album;
}

// The tracks `album` cuts from its file `f`, found at `image`, appended to `tracks`; or why it
// cannot.
QString cutFile(const Album &album, int f, const QString &image, const BatchFile &file,
                Mp3Enc::Binding mp3, QList<BatchFile> &tracks)
{
    std::pair<int, qint64> length;
    try {
        length = mp3.audioLength(image);
    } catch (const std::exception &error) {
        return QStringLiteral("CUE文件指向的音频文件%1不能用：%2")
            .arg(album.images.size() > 1 ? QStringLiteral("“%1”").arg(shownName(image)) : QString(),
                 rt::reasonOf(error));
    }
    const auto cut = cuesheet::Cut(album.sheet, f, length.first, length.second);
    if (const QString *problem = std::get_if<QString>(&cut))
        return *problem;
    for (const cuesheet::Track &track : std::get<QList<cuesheet::Track>>(cut)) {
        BatchFile part = file;
        part.input = image;
        part.sheet = album.sheetPath;
        part.first = track.first;
        part.count = track.count;
        part.tags = track.tags;
        part.note = album.note;
        tracks.append(part);
    }
    return {};
}

// Every track of a sheet that was given, from each of its files; or the album refused as a
// whole, with the reason.
void addGivenAlbum(QList<BatchFile> &out, BatchFile file, Mp3Enc::Binding mp3)
{
    const Album album = readAlbum(file.sheet);
    QList<BatchFile> tracks;
    QString problem = album.sheet.problem;
    for (int f = 0; problem.isEmpty() && f < album.images.size(); ++f) {
        problem = album.images[f].problem;
        if (problem.isEmpty())
            problem = cutFile(album, f, album.images[f].path, file, mp3, tracks);
    }
    if (problem.isEmpty()) {
        out += tracks;
        return;
    }
    file.refusal = problem;
    out.append(file);
}

// The tracks of the file in hand by a sheet found for it (`which` names the sheet); one that
// cannot be used leaves the file whole, saying why.
void addFoundAlbum(QList<BatchFile> &out, BatchFile file, const Album &album, const QString &which,
                   Mp3Enc::Binding mp3)
{
    QList<BatchFile> tracks;
    QString problem = album.sheet.problem;
    for (int f = 0; problem.isEmpty() && f < album.images.size(); ++f) {
        if (album.images[f].path == QDir::cleanPath(file.input))
            problem = cutFile(album, f, file.input, file, mp3, tracks);
    }
    if (problem.isEmpty() && !tracks.isEmpty()) {
        out += tracks;
        return;
    }
    file.note = QStringLiteral("%1不能用（%2），整个文件转换成了一个MP3").arg(which, problem);
    out.append(file);
}

// The sheets in a folder, by folder: listed and read once per batch.
class SheetsBeside
{
public:
    // Those naming `image` in one of their FILE lines.
    QList<Album> naming(const QString &image)
    {
        const QString folder = ParsePath(image);
        auto found = m_byFolder.constFind(folder);
        if (found == m_byFolder.constEnd())
            found = m_byFolder.insert(folder, read(folder));
        const QString path = QDir::cleanPath(image);
        QList<Album> albums;
        for (const Album &album : *found) {
            if (std::any_of(album.images.cbegin(), album.images.cend(),
                            [&path](const CueImage &named) { return named.path == path; }))
                albums.append(album);
        }
        return albums;
    }

private:
    static QList<Album> read(const QString &folder)
    {
        QList<Album> albums;
        const QDir dir(folder);
        for (const QString &entry : dir.entryList({QStringLiteral("*")}, QDir::Files)) {
            if (IsCueName(entry))
                albums.append(readAlbum(dir.filePath(entry)));
        }
        return albums;
    }

    QHash<QString, QList<Album>> m_byFolder;
};

// A FLAC file's own sheet: every FILE line means that file.
Album embeddedAlbum(const QString &image, const QString &text)
{
    Album album;
    album.sheet = cuesheet::Parse(text);
    if (album.sheet.problem.isEmpty() && album.sheet.files.size() > 1)
        album.sheet.problem = QStringLiteral("它指向不止一个文件");
    album.images = QList<CueImage>(album.sheet.files.size(), CueImage{image, {}});
    return album;
}

void addFile(QList<BatchFile> &out, const BatchFile &file, SheetsBeside &beside,
             Mp3Enc::Binding mp3)
{
    const QList<Album> sheets = beside.naming(file.input);
    if (sheets.size() > 1) {
        QStringList names;
        for (const Album &album : sheets)
            names.append(shownName(album.sheetPath));
        BatchFile refused = file;
        refused.refusal = QStringLiteral("旁边有几个CUE文件都指向它（%1），不知该用哪一个："
                                         "请给出要用的CUE文件")
                              .arg(names.join(QStringLiteral("、")));
        out.append(refused);
        return;
    }
    if (sheets.size() == 1) {
        addFoundAlbum(out, file, sheets.first(),
                      QStringLiteral("旁边的CUE文件“%1”").arg(shownName(sheets.first().sheetPath)),
                      mp3);
        return;
    }
    QString embedded;
    if (file.input.endsWith(QLatin1String(".flac"), Qt::CaseInsensitive)) {
        try {
            embedded = mp3.embeddedCueSheet(file.input);
        } catch (const std::exception &) {
            embedded.clear(); // converted as a file of its own; Open says what is wrong
        }
    }
    if (embedded.isEmpty())
        out.append(file);
    else
        addFoundAlbum(out, file, embeddedAlbum(file.input, embedded),
                      QStringLiteral("文件自带的CUE"), mp3);
}

} // namespace

QList<BatchFile> ExpandAlbums(const QList<BatchFile> &files, Mp3Enc::Binding mp3)
{
    QList<BatchFile> out;
    SheetsBeside beside;
    for (qsizetype k = 0; k < files.size(); ++k) {
        BatchFile file = files[k];
        file.entry = int(k);
        if (file.sheet.isEmpty() && IsCueName(file.input))
            file.sheet = file.input; // a sheet in the list itself (one naming no image)
        if (file.sheet.isEmpty())
            addFile(out, file, beside, mp3);
        else
            addGivenAlbum(out, file, mp3);
    }
    return out;
}
