#pragma once

#include "runtime/export.h"

#include <QFont>
#include <QImage>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

namespace rt {

// Named values a host stores for a control placed on a window. Names match without regard to
// case; writing a value equal to its default stores nothing; reading an absent name gives the
// default. Pictures travel as QImage (a null image is the empty picture), fonts as QFont.
class RT_EXPORT PropertyBag
{
public:
    PropertyBag() = default;

    QVariant read(const QString &name, const QVariant &defaultValue) const;
    void write(const QString &name, const QVariant &value, const QVariant &defaultValue);

    // Direct access for hosts that load or store the bag's contents.
    void set(const QString &name, const QVariant &value);
    bool contains(const QString &name) const;
    void remove(const QString &name);
    QStringList names() const;
    int size() const { return int(m_items.size()); }
    bool isEmpty() const { return m_items.isEmpty(); }

    static bool sameValue(const QVariant &a, const QVariant &b);

private:
    int indexOf(const QString &name) const;
    QList<QPair<QString, QVariant>> m_items;
};

// Conversions a control applies to what it reads from a bag; each throws
// ComError(ErrTypeMismatch) when the value cannot be converted.
RT_EXPORT qint32 toInt32(const QVariant &value);
RT_EXPORT qint16 toInt16(const QVariant &value);
RT_EXPORT bool toBool(const QVariant &value);
RT_EXPORT QString toText(const QVariant &value);
RT_EXPORT QImage toPicture(const QVariant &value);
RT_EXPORT QFont toFont(const QVariant &value);

} // namespace rt
