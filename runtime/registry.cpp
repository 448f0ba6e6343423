#include "runtime/registry.h"

#include "runtime/systemfolder.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

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
    // old entry or the new one, never a torn file.
    QSaveFile file(QDir(m_folder).filePath(entryFileName(entry.clsid)));
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    file.write(QJsonDocument(toJson(entry)).toJson());
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool Registry::remove(const QString &clsidOrProgId, QString *error)
{
    const auto entry = find(clsidOrProgId);
    if (!entry)
        return true; // nothing to remove is not a failure
    QFile file(QDir(m_folder).filePath(entryFileName(entry->clsid)));
    if (!file.remove() && file.exists()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

std::optional<RegistryEntry> Registry::find(const QString &classNameOrClsid) const
{
    for (const RegistryEntry &e : entries()) {
        if (e.clsid.compare(classNameOrClsid, Qt::CaseInsensitive) == 0 ||
            e.progId.compare(classNameOrClsid, Qt::CaseInsensitive) == 0)
            return e;
    }
    return std::nullopt;
}

QList<RegistryEntry> Registry::entries() const
{
    QList<RegistryEntry> result;
    if (m_folder.isEmpty())
        return result;
    const QDir dir(m_folder);
    for (const QString &name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        if (auto e = readEntry(dir.filePath(name)))
            result.append(*e);
    }
    return result;
}

} // namespace rt
