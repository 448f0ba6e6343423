#include "runtime/propertybag.h"

#include "runtime/comerror.h"

#include <QPixmap>
#include <cmath>
#include <limits>

namespace rt {

namespace {

bool isNumeric(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Long:
    case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

[[noreturn]] void typeMismatch(const QVariant &value)
{
    throw ComError(ErrTypeMismatch,
                   QStringLiteral("Type mismatch: %1").arg(value.toString().left(40)));
}

// The forms runtime's conversion to a whole number: halves to even, overflow is an error.
qint64 wholeNumber(const QVariant &value, qint64 min, qint64 max)
{
    double d = 0;
    if (value.typeId() == QMetaType::Bool) {
        d = value.toBool() ? -1 : 0;
    } else if (isNumeric(value)) {
        d = value.toDouble();
    } else if (value.typeId() == QMetaType::QString) {
        bool ok = false;
        d = value.toString().trimmed().toDouble(&ok);
        if (!ok)
            typeMismatch(value);
    } else {
        typeMismatch(value);
    }
    if (!std::isfinite(d))
        throw ComError(ErrOverflow, QStringLiteral("Overflow"));
    const double r = std::nearbyint(d); // default rounding mode: to nearest, halves to even
    if (r < double(min) || r > double(max))
        throw ComError(ErrOverflow, QStringLiteral("Overflow"));
    return qint64(r);
}

} // namespace

int PropertyBag::indexOf(const QString &name) const
{
    for (int i = 0; i < m_items.size(); ++i) {
        if (m_items[i].first.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QVariant PropertyBag::read(const QString &name, const QVariant &defaultValue) const
{
    const int i = indexOf(name);
    return i < 0 ? defaultValue : m_items[i].second;
}

void PropertyBag::write(const QString &name, const QVariant &value, const QVariant &defaultValue)
{
    if (sameValue(value, defaultValue)) {
        remove(name);
        return;
    }
    set(name, value);
}

void PropertyBag::set(const QString &name, const QVariant &value)
{
    const int i = indexOf(name);
    if (i < 0)
        m_items.append({name, value});
    else
        m_items[i].second = value;
}

bool PropertyBag::contains(const QString &name) const
{
    return indexOf(name) >= 0;
}

void PropertyBag::remove(const QString &name)
{
    const int i = indexOf(name);
    if (i >= 0)
        m_items.removeAt(i);
}

QStringList PropertyBag::names() const
{
    QStringList result;
    for (const auto &item : m_items)
        result.append(item.first);
    return result;
}

bool PropertyBag::sameValue(const QVariant &a, const QVariant &b)
{
    if (a.typeId() == QMetaType::QImage || b.typeId() == QMetaType::QImage) {
        const QImage ia = a.value<QImage>(), ib = b.value<QImage>();
        return ia.isNull() && ib.isNull() ? true : ia == ib;
    }
    if (a.typeId() == QMetaType::QFont || b.typeId() == QMetaType::QFont)
        return a.typeId() == b.typeId() && a.value<QFont>() == b.value<QFont>();
    const bool na = isNumeric(a) || a.typeId() == QMetaType::Bool;
    const bool nb = isNumeric(b) || b.typeId() == QMetaType::Bool;
    if (na && nb) {
        auto num = [](const QVariant &v) {
            return v.typeId() == QMetaType::Bool ? (v.toBool() ? -1.0 : 0.0) : v.toDouble();
        };
        return num(a) == num(b);
    }
    if (!a.isValid() || !b.isValid())
        return a.isValid() == b.isValid();
    return a == b;
}

qint32 toInt32(const QVariant &value)
{
    return qint32(
        wholeNumber(value, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
}

qint16 toInt16(const QVariant &value)
{
    return qint16(
        wholeNumber(value, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max()));
}

bool toBool(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (isNumeric(value))
        return value.toDouble() != 0;
    if (value.typeId() == QMetaType::QString) {
        const QString s = value.toString().trimmed();
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
        bool ok = false;
        const double d = s.toDouble(&ok);
        if (ok)
            return d != 0;
    }
    typeMismatch(value);
}

QString toText(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    if (isNumeric(value))
        return value.toString();
    if (!value.isValid())
        return QString();
    typeMismatch(value);
}

QImage toPicture(const QVariant &value)
{
    if (!value.isValid())
        return QImage();
    if (value.typeId() == QMetaType::QImage)
        return value.value<QImage>();
    if (value.typeId() == QMetaType::QPixmap)
        return value.value<QPixmap>().toImage();
    typeMismatch(value);
}

QFont toFont(const QVariant &value)
{
    if (value.typeId() == QMetaType::QFont)
        return value.value<QFont>();
    typeMismatch(value);
}

} // namespace rt
