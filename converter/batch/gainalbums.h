#pragma once

#include "converter/batch/batchfile.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>

// The albums of a batch for ReplayGain: the tracks of one cue sheet, or else the files of one
// folder that share album artist and album (those without an album tag: the folder's). Each
// file's outcome is told as it is judged; an album is complete when every file of it has been.
class GainAlbums
{
public:
    // An input's album artist and album, by field as the encoder reads tags; throws when the
    // file cannot be read.
    using Tags = std::function<QMap<QString, QString>(int position)>;

    void plan(const QList<BatchFile> &files, const Tags &tagsOf);
    void clear() { *this = GainAlbums(); }

    QString albumOf(int position) const { return m_keys.value(position); }

    // File `position` ended: measured and added to its album, or not (`why` not).
    void joined(int position);
    void missed(int position, const QString &why);
    // Left as it was (up to date): its MP3 `mp3` is measured from its input if the album is
    // written.
    void leftAsIs(int position, const QString &mp3);

    // An album of which every file has been judged, the first time it is.
    struct Complete
    {
        QString key;
        QString label;   // as a user reads it: the sheet, or the folder and album
        QString problem; // why its gain cannot be written; "" when it can
        int measured = 0;
        QList<std::pair<int, QString>> leftAsIs; // positions and their MP3s
    };
    std::optional<Complete> completed(int position);

private:
    struct Album
    {
        QString label;
        int pending = 0;
        int measured = 0;
        QStringList missed;
        QList<std::pair<int, QString>> leftAsIs;
    };
    QList<QString> m_keys; // by position
    QHash<QString, Album> m_albums;
};
