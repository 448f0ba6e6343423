#pragma once

#include "runtime/export.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace rt {

struct RegistryEntry
{
    QString clsid;
    QString progId;
    QString libraryPath;
    QString description;
    QString typeLibName;
    QString typeLibVersion;
    QString fileVersion;
};

// The component registry: one small file per class, each replaced atomically, so registrations
// that run at the same time never lose or tear an entry.
class RT_EXPORT Registry
{
public:
    explicit Registry(const QString &folder = QString()); // default: registryFolder()

    QString folder() const { return m_folder; }
    bool add(const RegistryEntry &entry, QString *error = nullptr);
    bool remove(const QString &clsidOrProgId, QString *error = nullptr);
    // By class name / ProgID (case-insensitive) or by class identifier. Entries others could
    // have changed are not believed; `passedOver` collects why an entry was passed over.
    std::optional<RegistryEntry> find(const QString &classNameOrClsid,
                                      QStringList *passedOver = nullptr) const;
    QList<RegistryEntry> entries(QStringList *passedOver = nullptr) const;

private:
    bool removeMatching(const QString &name, const QString &keepFile, QString *error) const;

    QString m_folder;
};

} // namespace rt
