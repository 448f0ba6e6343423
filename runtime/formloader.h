#pragma once

#include "runtime/componenthost.h"
#include "runtime/controls.h"
#include "runtime/export.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <memory>

namespace rt {

class Registry;

// Builds a window from its description (a JSON data file): each control's kind, name, container,
// place in twips, caption or text, colours, font, tab position and initial state; hosted
// components by class name with their property bag. Pictures are named relative to the
// description's folder.
class RT_EXPORT FormLoader
{
public:
    explicit FormLoader(const Registry *registry = nullptr) : m_registry(registry) {}

    // Fills `form` (sized, captioned, coloured) and creates its controls as its children.
    // Throws ComError when the description is unreadable or a component cannot be created.
    void load(const QString &descriptionPath, Form *form);

    QObject *find(const QString &name) const { return m_controls.value(name); }
    template <class T> T *control(const QString &name) const
    {
        return qobject_cast<T *>(m_controls.value(name));
    }
    ComponentHost *host(const QString &name) const { return control<ComponentHost>(name); }
    QStringList names() const { return m_order; }

private:
    const Registry *m_registry;
    QHash<QString, QObject *> m_controls;
    QStringList m_order;
};

} // namespace rt
