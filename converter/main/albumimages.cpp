#include "converter/main/albumimages.h"

#include "converter/main/audiofiles.h"
#include "converter/main/cuesheet.h"
#include "converter/main/cuetext.h"
#include "converter/main/pathhelpers.h"
#include "runtime/comerror.h"
#include "runtime/filename.h"

#include <QDir>
#include <QHash>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <variant>

namespace {

// A sheet is a few kilobytes: anything larger is not one.
constexpr qsizetype MostSheetBytes = 1 << 20;

QString shownName(const QString &path)
{
    return rt::displayFileName(ParseFileName(path));
}

// The sheet's text, or why it cannot be read.
std::variant<cuesheet::Text, QString> readSheetFile(const QString &path)
{
    const int fd = ::open(rt::encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    QByteArray bytes(MostSheetBytes + 1, Qt::Uninitialized);
    qsizetype got = 0;
    ssize_t n = fd < 0 ? -1 : 0;
    while (fd >= 0 && got < bytes.size() &&
           (n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got))) > 0)
        got += n;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (n < 0)
        return error == EACCES ? QStringLiteral("没有权限读取CUE文件")
                               : QStringLiteral("无法读取CUE文件（%1）")
                                     .arg(QString::fromLocal8Bit(std::strerror(error)));
    if (got > MostSheetBytes)
        return QStringLiteral("CUE文件大于1 MB，不会是CUE文件");
    bytes.truncate(got);
    return cuesheet::Decode(bytes);
}

QString stem(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

// Where a sheet's FILE line points, or why it points nowhere.
struct Image
{
    QString path;
    QString problem;
};

// The file a FILE line means, relative to the sheet's folder: that name; else, as sheets made
// on Windows spell it, the one file of that name in another letter case; else an audio file of
// its stem (rippers leave a sheet naming the WAV they made the FLAC from).
Image findImage(const QString &sheetFolder, const QString &named)
{
    const QString exact = QDir::cleanPath(QDir(sheetFolder).filePath(named));
    if (rt::fileKind(exact) != rt::FileKind::Missing)
        return {exact, {}};
    const QDir folder(ParsePath(exact));
    const QString name = ParseFileName(exact);
    const QStringList entries = folder.entryList(QDir::Files, QDir::Name);
    const auto matching = [&entries](const auto &same) {
        QStringList found;
        for (const QString &entry : entries) {
            if (same(entry))
                found.append(entry);
        }
        return found;
    };
    QStringList found = matching(
        [&](const QString &entry) { return entry.compare(name, Qt::CaseInsensitive) == 0; });
    if (found.isEmpty()) // another ending: the first, as the folder sorts
        found = matching([&](const QString &entry) {
                    return stem(entry) == stem(name) && IsAudioName(entry);
                }).mid(0, 1);
    if (found.isEmpty())
        found = matching([&](const QString &entry) {
            return stem(entry).compare(stem(name), Qt::CaseInsensitive) == 0 && IsAudioName(entry);
        });
    if (found.size() == 1)
        return {folder.filePath(found.first()), {}};
    if (found.isEmpty())
        return {exact, QStringLiteral("CUE文件指向的音频文件不存在：%1").arg(named)};
    return {{},
            QStringLiteral("CUE文件指向的“%1”不知是哪一个，有几个文件只是大小写不同：%2")
                .arg(named, rt::displayFileName(found.join(QStringLiteral("、"))))};
}

// A sheet, its files found: what an album's tracks are cut by.
struct Album
{
    QString sheetPath;     // "" for the sheet a FLAC file carries
    cuesheet::Sheet sheet; // its problem: why it cannot be used
    QList<Image> images;   // for each of its files
    QString note;          // for every track: names that may be read wrong
};

Album readAlbum(const QString &sheetPath)
{
    Album album;
    album.sheetPath = sheetPath;
    const auto read = readSheetFile(sheetPath);
    if (const QString *problem = std::get_if<QString>(&read)) {
        album.sheet.problem = *problem;
        return album;
    }
    const cuesheet::Text &text = std::get<cuesheet::Text>(read);
    album.sheet = cuesheet::Parse(text.text);
    for (const QString &named : std::as_const(album.sheet.files))
        album.images.append(findImage(ParsePath(sheetPath), named));
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
                            [&path](const Image &named) { return named.path == path; }))
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
    album.images = QList<Image>(album.sheet.files.size(), Image{image, {}});
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

bool IsCueName(const QString &path)
{
    return path.endsWith(QLatin1String(".cue"), Qt::CaseInsensitive);
}

QString ImageOfCueFile(const QString &cuePath)
{
    const Album album = readAlbum(cuePath);
    const QString image = album.images.value(0).path;
    return rt::fileKind(image) == rt::FileKind::Regular ? image : QString();
}

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
