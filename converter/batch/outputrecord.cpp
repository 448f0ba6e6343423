#include "converter/batch/outputrecord.h"

#include "runtime/filename.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int SchemaVersion = 1;
constexpr int BusyMilliseconds = 5000;

qint64 nanoseconds(const timespec &t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

const char *const Schema[] = {
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value)",
    "CREATE TABLE IF NOT EXISTS outputs("
    " path BLOB PRIMARY KEY, kind INTEGER NOT NULL, input BLOB NOT NULL,"
    " first INTEGER NOT NULL, count INTEGER NOT NULL,"
    " input_size INTEGER, input_modified INTEGER, input_changed INTEGER,"
    " audio BLOB, settings TEXT, pattern TEXT, tags BLOB,"
    " size INTEGER, modified INTEGER, changed INTEGER, hash BLOB, seq INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS outputs_input ON outputs(input, first, count)",
    "CREATE TABLE IF NOT EXISTS folders(path BLOB PRIMARY KEY)",
};

const QString Columns = QStringLiteral(
    "path, kind, input, first, count, input_size, input_modified, input_changed, audio, "
    "settings, pattern, tags, size, modified, changed, hash");

RecordEntry entryOf(const QSqlQuery &q)
{
    RecordEntry e;
    e.path = rt::decodeFileName(q.value(0).toByteArray());
    e.kind = q.value(1).toInt();
    e.input = rt::decodeFileName(q.value(2).toByteArray());
    e.first = q.value(3).toLongLong();
    e.count = q.value(4).toLongLong();
    e.inputState = {true, true, q.value(5).toLongLong(), q.value(6).toLongLong(),
                    q.value(7).toLongLong()};
    e.audio = q.value(8).toByteArray();
    e.settings = q.value(9).toString();
    e.pattern = q.value(10).toString();
    e.tags = q.value(11).toByteArray();
    e.written = {true, true, q.value(12).toLongLong(), q.value(13).toLongLong(),
                 q.value(14).toLongLong()};
    e.hash = q.value(15).toByteArray();
    return e;
}

} // namespace

FileState FileState::of(const QString &path)
{
    struct stat st = {};
    if (::lstat(rt::encodeFileName(path).constData(), &st) != 0)
        return {};
    return {true, S_ISREG(st.st_mode), qint64(st.st_size), nanoseconds(st.st_mtim),
            nanoseconds(st.st_ctim)};
}

QString RecordSettings(int rateMode, int bitRate, int vbrQuality, int replayGain,
                       const QString &encoderVersion)
{
    // Only what the mode uses: a constant rate's VbrQuality does not shape its sound.
    const QString rate = rateMode == 1 ? QStringLiteral("V%1").arg(vbrQuality)
                                       : QStringLiteral("%1:%2").arg(rateMode).arg(bitRate);
    return QStringLiteral("rate=%1;replaygain=%2;lame=%3")
        .arg(rate)
        .arg(replayGain)
        .arg(encoderVersion);
}

QByteArray FileHash(const QString &path)
{
    const int fd = ::open(rt::encodeFileName(path).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return {};
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha1);
    return hash.addData(&file) ? hash.result().toHex() : QByteArray();
}

OutputRecord::~OutputRecord()
{
    close();
}

void OutputRecord::close()
{
    if (m_connection.isEmpty())
        return;
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(std::exchange(m_connection, {}));
}

bool OutputRecord::open(const QString &folder)
{
    close();
    m_rebuilt = false;
    m_folder = folder.endsWith(u'/') ? folder : folder + u'/';
    // SQLite is handed the name as UTF-8: a folder whose name is not has no record.
    if (rt::hasForeignBytes(m_folder))
        return false;
    const QString file = m_folder + RecordFileName;
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_connection = QStringLiteral("record-") + QUuid::createUuid().toString(QUuid::Id128);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyMilliseconds));
        if (db.open() && prepare())
            return true;
        const bool there = QFile::exists(file);
        close();
        // Damaged, or another program's file under the name: begun anew, once.
        if (!there || attempt > 0 || !QFile::remove(file))
            return false;
        m_rebuilt = true;
    }
    return false;
}

bool OutputRecord::prepare()
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!q.exec(QStringLiteral("PRAGMA quick_check")) || !q.next() ||
        q.value(0).toString() != QLatin1String("ok"))
        return false;
    q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    for (const char *statement : Schema) {
        if (!q.exec(QString::fromLatin1(statement)))
            return false;
    }
    if (!q.exec(QStringLiteral("SELECT value FROM meta WHERE key='schema'")))
        return false;
    if (!q.next()) {
        q.prepare(QStringLiteral("INSERT INTO meta(key, value) VALUES('schema', ?)"));
        q.addBindValue(SchemaVersion);
        return q.exec();
    }
    return q.value(0).toInt() == SchemaVersion;
}

QString OutputRecord::relative(const QString &path) const
{
    if (m_folder.isEmpty() || !path.startsWith(m_folder) || path.size() == m_folder.size())
        return {};
    const QString rest = path.mid(m_folder.size());
    for (const QString &part : rest.split(u'/')) {
        if (part.isEmpty() || part == u'.' || part == QLatin1String(".."))
            return {};
    }
    return rest;
}

std::optional<RecordEntry> OutputRecord::latestFor(const QString &input, qint64 first,
                                                   qint64 count) const
{
    if (!isOpen())
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    q.prepare(QStringLiteral("SELECT ") + Columns +
              QStringLiteral(" FROM outputs WHERE kind=0 AND input=? AND first=? AND count=? "
                             "ORDER BY seq DESC LIMIT 1"));
    q.addBindValue(rt::encodeFileName(input));
    q.addBindValue(first);
    q.addBindValue(count);
    if (!q.exec() || !q.next())
        return std::nullopt;
    return entryOf(q);
}

std::optional<RecordEntry> OutputRecord::entryAt(const QString &relativePath) const
{
    if (!isOpen())
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    q.prepare(QStringLiteral("SELECT ") + Columns + QStringLiteral(" FROM outputs WHERE path=?"));
    q.addBindValue(rt::encodeFileName(relativePath));
    if (!q.exec() || !q.next())
        return std::nullopt;
    return entryOf(q);
}

QList<RecordEntry> OutputRecord::entries() const
{
    QList<RecordEntry> all;
    if (!isOpen())
        return all;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT ") + Columns + QStringLiteral(" FROM outputs ORDER BY seq")))
        return all;
    while (q.next())
        all.append(entryOf(q));
    return all;
}

bool OutputRecord::put(RecordEntry entry)
{
    if (!isOpen() || entry.path.isEmpty())
        return false;
    entry.written = FileState::of(m_folder + entry.path);
    entry.hash = FileHash(m_folder + entry.path);
    if (!entry.written.regular || entry.hash.isEmpty())
        return false;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO outputs(") + Columns +
              QStringLiteral(", seq) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,"
                             "(SELECT IFNULL(MAX(seq), 0) + 1 FROM outputs))"));
    for (const QVariant &value :
         {QVariant(rt::encodeFileName(entry.path)), QVariant(entry.kind),
          QVariant(rt::encodeFileName(entry.input)), QVariant(entry.first), QVariant(entry.count),
          QVariant(entry.inputState.size), QVariant(entry.inputState.modified),
          QVariant(entry.inputState.changed), QVariant(entry.audio), QVariant(entry.settings),
          QVariant(entry.pattern), QVariant(entry.tags), QVariant(entry.written.size),
          QVariant(entry.written.modified), QVariant(entry.written.changed), QVariant(entry.hash)})
        q.addBindValue(value);
    return q.exec();
}

bool OutputRecord::remove(const QString &relativePath)
{
    if (!isOpen())
        return false;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    q.prepare(QStringLiteral("DELETE FROM outputs WHERE path=?"));
    q.addBindValue(rt::encodeFileName(relativePath));
    return q.exec();
}

void OutputRecord::addFolder(const QString &relativePath)
{
    if (!isOpen() || relativePath.isEmpty())
        return;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    q.prepare(QStringLiteral("INSERT OR IGNORE INTO folders(path) VALUES(?)"));
    q.addBindValue(rt::encodeFileName(relativePath));
    q.exec();
}

QStringList OutputRecord::folders() const
{
    QStringList all;
    if (!isOpen())
        return all;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!q.exec(QStringLiteral("SELECT path FROM folders ORDER BY length(path) DESC")))
        return all;
    while (q.next())
        all.append(rt::decodeFileName(q.value(0).toByteArray()));
    return all;
}

void OutputRecord::removeFolder(const QString &relativePath)
{
    if (!isOpen())
        return;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    q.prepare(QStringLiteral("DELETE FROM folders WHERE path=?"));
    q.addBindValue(rt::encodeFileName(relativePath));
    q.exec();
}
