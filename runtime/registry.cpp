#include "runtime/registry.h"

#include "runtime/filetrust.h"
#include "runtime/systemfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstring>

namespace rt {

namespace {

QString entryFileName(const QString &clsid)
{
    QString name;
    for (QChar c : clsid) {
        if (c.isLetterOrNumber() || c == QLatin1Char('-'))
            name.append(c.toUpper());
    }
    return name + QStringLiteral(".json");
}

QJsonObject toJson(const RegistryEntry &e)
{
    return QJsonObject{{QStringLiteral("clsid"), e.clsid},
                       {QStringLiteral("progId"), e.progId},
                       {QStringLiteral("library"), e.libraryPath},
                       {QStringLiteral("description"), e.description},
                       {QStringLiteral("typeLibName"), e.typeLibName},
                       {QStringLiteral("typeLibVersion"), e.typeLibVersion},
                       {QStringLiteral("fileVersion"), e.fileVersion}};
}

std::optional<RegistryEntry> readEntry(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
    RegistryEntry e;
    e.clsid = o.value(QStringLiteral("clsid")).toString();
    e.progId = o.value(QStringLiteral("progId")).toString();
    e.libraryPath = o.value(QStringLiteral("library")).toString();
    e.description = o.value(QStringLiteral("description")).toString();
    e.typeLibName = o.value(QStringLiteral("typeLibName")).toString();
    e.typeLibVersion = o.value(QStringLiteral("typeLibVersion")).toString();
    e.fileVersion = o.value(QStringLiteral("fileVersion")).toString();
    if (e.clsid.isEmpty() || e.libraryPath.isEmpty())
        return std::nullopt;
    return e;
}

bool matches(const RegistryEntry &e, const QString &classNameOrClsid)
{
    return e.clsid.compare(classNameOrClsid, Qt::CaseInsensitive) == 0 ||
           e.progId.compare(classNameOrClsid, Qt::CaseInsensitive) == 0;
}

} // namespace

Registry::Registry(const QString &folder) : m_folder(folder.isEmpty() ? registryFolder() : folder)
{}

bool Registry::add(const RegistryEntry &entry, QString *error)
{
    if (m_folder.isEmpty() || entry.clsid.isEmpty()) {
        if (error)
            *error = QStringLiteral("no writable registry folder");
        return false;
    }
    // Written to a temporary and renamed: a parallel registration or a reader sees either the
    // old entry or the new one, never a torn file. Private to the user: an entry decides which
    // library gets loaded.
    const QString fileName = entryFileName(entry.clsid);
    if (const int e = writePrivateFile(QDir(m_folder).filePath(fileName),
                                       QJsonDocument(toJson(entry)).toJson(), 0600)) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(e));
        return false;
    }
    // A class has one entry: an older or planted one claiming its name or identifier goes.
    return removeMatching(entry.clsid, fileName, error) &&
           removeMatching(entry.progId, fileName, error);
}

bool Registry::remove(const QString &clsidOrProgId, QString *error)
{
    return removeMatching(clsidOrProgId, QString(), error);
}

bool Registry::removeMatching(const QString &name, const QString &keepFile, QString *error) const
{
    if (name.isEmpty() || m_folder.isEmpty())
        return true; // nothing to remove is not a failure
    const QDir dir(m_folder);
    for (const QString &file : dir.entryList({QStringLiteral("*.json")}, QDir::Files)) {
        const auto e = readEntry(dir.filePath(file));
        if (file == keepFile || !e || !matches(*e, name))
            continue;
        QFile entryFile(dir.filePath(file));
        if (!entryFile.remove() && entryFile.exists()) {
            if (error)
                *error = entryFile.errorString();
            return false;
        }
    }
    return true;
}

std::optional<RegistryEntry> Registry::find(const QString &classNameOrClsid,
                                            QStringList *passedOver) const
{
    // An entry whose library is gone (a stale or planted one) gives way to one that works;
    // alone, it is still returned, so the caller can name the missing file.
    std::optional<RegistryEntry> fallback;
    for (const RegistryEntry &e : entries(passedOver)) {
        if (!matches(e, classNameOrClsid))
            continue;
        if (QFileInfo(e.libraryPath).isFile())
            return e;
        if (passedOver)
            passedOver->append(QStringLiteral("the entry for %1 names a missing library %2")
                                   .arg(classNameOrClsid, e.libraryPath));
        if (!fallback)
            fallback = e;
    }
    return fallback;
}

QList<RegistryEntry> Registry::entries(QStringList *passedOver) const
{
    QList<RegistryEntry> result;
    if (m_folder.isEmpty())
        return result;
    const QDir dir(m_folder);
    for (const QString &name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        QString why;
        if (!isTrustedFile(dir.filePath(name), &why)) {
            if (passedOver)
                passedOver->append(why);
            continue;
        }
        if (auto e = readEntry(dir.filePath(name)))
            result.append(*e);
    }
    return result;
}

} // namespace rt
