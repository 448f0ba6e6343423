#include "converter/batch/gainalbums.h"

#include "runtime/filename.h"

#include <exception>

namespace {

QString folderOf(const QString &path)
{
    return path.left(path.lastIndexOf(u'/') + 1);
}

} // namespace

void GainAlbums::plan(const QList<BatchFile> &files, const Tags &tagsOf)
{
    clear();
    for (int k = 0; k < files.size(); ++k) {
        const BatchFile &file = files[k];
        QString key;
        QString label;
        if (file.isTrack()) {
            const QString sheet = file.sheet.isEmpty() ? file.input : file.sheet;
            key = QStringLiteral("cue\x1f") + sheet;
            label = rt::displayFileName(sheet);
        } else {
            QMap<QString, QString> tags;
            try {
                tags = tagsOf(k);
            } catch (const std::exception &) {
                // Unreadable: the file is refused when its turn comes, and is an album alone.
                key = QStringLiteral("file\x1f") + file.input;
            }
            const QString album = tags.value(QStringLiteral("album"));
            if (key.isEmpty())
                key = QStringLiteral("dir\x1f") + folderOf(file.input) + u'\x1f' +
                      tags.value(QStringLiteral("albumartist")) + u'\x1f' + album;
            label = rt::displayFileName(folderOf(file.input)) +
                    (album.isEmpty() ? QString() : QStringLiteral("《%1》").arg(album));
        }
        m_keys.append(key);
        Album &entry = m_albums[key];
        entry.label = label;
        ++entry.pending;
    }
}

void GainAlbums::joined(int position)
{
    Album &album = m_albums[albumOf(position)];
    --album.pending;
    ++album.measured;
}

void GainAlbums::missed(int position, const QString &why)
{
    Album &album = m_albums[albumOf(position)];
    --album.pending;
    if (!album.missed.contains(why))
        album.missed.append(why);
}

void GainAlbums::leftAsIs(int position, const QString &mp3)
{
    Album &album = m_albums[albumOf(position)];
    --album.pending;
    album.leftAsIs.append({position, mp3});
}

std::optional<GainAlbums::Complete> GainAlbums::completed(int position)
{
    const QString key = albumOf(position);
    const auto found = m_albums.find(key);
    if (found == m_albums.end() || found->pending > 0)
        return std::nullopt;
    const Album album = *found;
    m_albums.erase(found);
    return Complete{key, album.label, album.missed.join(QStringLiteral("；")), album.measured,
                    album.leftAsIs};
}
