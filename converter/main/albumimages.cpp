#include "converter/main/albumimages.h"

#include "converter/main/audiofiles.h"
#include "converter/main/cuesheet.h"
#include "converter/main/pathhelpers.h"
#include "runtime/comerror.h"
#include "runtime/filename.h"

#include <QDir>
#include <QHash>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString readSheet(const QString &cuePath)
{
    // A sheet is a few kilobytes: anything larger is not one.
    constexpr qsizetype MostBytes = 1 << 20;
    const int fd =
        ::open(rt::encodeFileName(cuePath).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    QByteArray bytes(MostBytes + 1, Qt::Uninitialized);
    qsizetype got = 0;
    for (ssize_t n; got < bytes.size() &&
                    (n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got))) > 0;)
        got += n;
    ::close(fd);
    return got > MostBytes ? QString() : cuesheet::Decode(bytes.left(got));
}

QString stem(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

// The file in `folder` a sheet's FILE line means: that name, else an audio file of its stem.
QString imageIn(const QString &folder, const QString &named)
{
    if (named.isEmpty())
        return {};
    const QString exact = QDir(folder).filePath(named);
    if (rt::fileKind(exact) == rt::FileKind::Regular)
        return exact;
    const QDir dir(folder);
    for (const QString &entry : dir.entryList(QDir::Files)) {
        if (stem(entry) == stem(QFileInfo(named).fileName()) && IsAudioName(entry))
            return dir.filePath(entry);
    }
    return exact; // not there: the album is refused as missing its image
}

// The sheets beside files, by folder: listed and read once per batch.
class SheetsBeside
{
public:
    QString sheetFor(const QString &image)
    {
        const QString folder = ParsePath(image);
        auto found = m_byFolder.constFind(folder);
        if (found == m_byFolder.constEnd())
            found = m_byFolder.insert(folder, read(folder));
        return found->value(image);
    }

private:
    static QHash<QString, QString> read(const QString &folder)
    {
        QHash<QString, QString> sheets; // image path -> sheet text
        const QDir dir(folder);
        for (const QString &entry : dir.entryList({QStringLiteral("*")}, QDir::Files)) {
            if (!IsCueName(entry))
                continue;
            const QString text = readSheet(dir.filePath(entry));
            const QString image = imageIn(folder, cuesheet::ImageOf(text));
            if (!image.isEmpty() && !sheets.contains(image))
                sheets.insert(image, text);
        }
        return sheets;
    }

    QHash<QString, QHash<QString, QString>> m_byFolder;
};

void addTracks(QList<BatchFile> &out, BatchFile image, const QString &sheet, Mp3Enc::Binding mp3)
{
    std::pair<int, qint64> length;
    try {
        length = mp3.audioLength(image.input);
    } catch (const std::exception &error) {
        image.refusal = QStringLiteral("CUE文件指向的音频文件不能用：%1").arg(rt::reasonOf(error));
        out.append(image);
        return;
    }
    const auto read = cuesheet::Read(sheet, length.first, length.second);
    if (const QString *problem = std::get_if<QString>(&read)) {
        image.refusal = *problem;
        out.append(image);
        return;
    }
    for (const cuesheet::Track &track : std::get<cuesheet::Sheet>(read).tracks) {
        BatchFile file = image;
        file.first = track.first;
        file.count = track.count;
        file.tags = track.tags;
        out.append(file);
    }
}

} // namespace

bool IsCueName(const QString &path)
{
    return path.endsWith(QLatin1String(".cue"), Qt::CaseInsensitive);
}

QString ImageOfCueFile(const QString &cuePath)
{
    const QString image = imageIn(ParsePath(cuePath), cuesheet::ImageOf(readSheet(cuePath)));
    return rt::fileKind(image) == rt::FileKind::Regular ? image : QString();
}

QList<BatchFile> ExpandAlbums(const QList<BatchFile> &files, Mp3Enc::Binding mp3)
{
    QList<BatchFile> out;
    SheetsBeside beside;
    for (qsizetype k = 0; k < files.size(); ++k) {
        BatchFile file = files[k];
        file.entry = int(k);
        QString sheet;
        if (IsCueName(file.input)) {
            sheet = readSheet(file.input);
            const QString image = imageIn(ParsePath(file.input), cuesheet::ImageOf(sheet));
            if (image.isEmpty()) {
                file.refusal = QStringLiteral("CUE文件读不懂，或者没有指向一个音频文件");
                out.append(file);
                continue;
            }
            file.input = image;
        } else {
            sheet = beside.sheetFor(file.input);
            if (sheet.isEmpty() &&
                file.input.endsWith(QLatin1String(".flac"), Qt::CaseInsensitive)) {
                try {
                    sheet = mp3.embeddedCueSheet(file.input);
                } catch (const std::exception &) {
                    sheet.clear(); // converted as a file of its own; Open says what is wrong
                }
            }
        }
        if (sheet.isEmpty())
            out.append(file);
        else
            addTracks(out, file, sheet, mp3);
    }
    return out;
}
