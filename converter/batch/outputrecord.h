#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// The record of what this program wrote into one output folder: an SQLite database inside the
// folder itself (RecordFileName), so it moves with the folder and never holds another folder's
// files. Paths in it are relative to the folder, as bytes (names need not be UTF-8). A record
// that cannot be read is replaced by an empty one: the rules then go by file times, as without
// one.
inline const QString RecordFileName = QStringLiteral(".batchmp3.sqlite");

// A file as its state is compared: size, and data and status change times in nanoseconds.
struct FileState
{
    bool exists = false;
    bool regular = false;
    qint64 size = 0;
    qint64 modified = 0;
    qint64 changed = 0;
    // lstat(): a link is not what it leads to.
    static FileState of(const QString &path);
    bool sameData(const FileState &other) const
    {
        return exists && other.exists && size == other.size && modified == other.modified;
    }
};

struct RecordEntry
{
    enum Kind
    {
        Mp3 = 0,
        Cover = 1,
    };
    QString path; // below the output folder
    int kind = Mp3;
    QString input; // absolute; for a cover, the album's first input
    qint64 first = 0;
    qint64 count = 0;
    FileState inputState;
    QByteArray audio;  // AudioIdentity of the input
    QString settings;  // what shaped the sound (RecordSettings)
    QString pattern;   // the name pattern it was named by
    QByteArray tags;   // the input's tags, as JSON
    FileState written; // the file as it was put in place
    QByteArray hash;   // of its bytes then
};

// The text the settings that shape an MP3's sound are compared by.
QString RecordSettings(int rateMode, int bitRate, int vbrQuality, int replayGain,
                       const QString &encoderVersion);
// A hash of a file's bytes; empty when it cannot be read.
QByteArray FileHash(const QString &path);

class OutputRecord
{
public:
    OutputRecord() = default;
    ~OutputRecord();
    OutputRecord(const OutputRecord &) = delete;
    OutputRecord &operator=(const OutputRecord &) = delete;

    // The record of `folder` (absolute, ending in '/'), made if missing, made anew if damaged.
    // False when none can be kept there (a read-only folder): the batch goes on without one.
    bool open(const QString &folder);
    bool isOpen() const { return !m_connection.isEmpty(); }
    // Whether open() found a record it could not read and started a new one.
    bool rebuilt() const { return m_rebuilt; }
    const QString &folder() const { return m_folder; }

    // The MP3 most recently written from this input (this part of it).
    std::optional<RecordEntry> latestFor(const QString &input, qint64 first, qint64 count) const;
    std::optional<RecordEntry> entryAt(const QString &relativePath) const;
    QList<RecordEntry> entries() const;
    // Put in place now: `entry.written` and `entry.hash` are taken from the file.
    bool put(RecordEntry entry);
    bool remove(const QString &relativePath);
    // Folders below the output folder this program made, deepest first.
    void addFolder(const QString &relativePath);
    QStringList folders() const;
    void removeFolder(const QString &relativePath);

    // `path` below the folder, or "" when it is not below it.
    QString relative(const QString &path) const;

private:
    bool prepare();
    void close();

    QString m_folder;
    QString m_connection;
    bool m_rebuilt = false;
};
