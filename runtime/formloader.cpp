#include "runtime/formloader.h"

#include "runtime/comerror.h"
#include "runtime/propertybag.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QTimer>
#include <algorithm>

namespace rt {

namespace {

quint32 colorValue(const QJsonValue &v)
{
    bool ok = false;
    const quint32 c = v.toString().toUInt(&ok, 16);
    if (!ok)
        throw ComError(ErrTypeMismatch, QStringLiteral("bad colour %1").arg(v.toString()));
    return c;
}

QFont fontValue(const QJsonObject &o, const QFont &base)
{
    QFont font(base);
    if (o.contains(QLatin1String("name")))
        font.setFamily(o.value(QLatin1String("name")).toString());
    if (o.contains(QLatin1String("size")))
        font.setPointSizeF(o.value(QLatin1String("size")).toDouble());
    if (o.contains(QLatin1String("bold")))
        font.setBold(o.value(QLatin1String("bold")).toBool());
    return font;
}

QRect placeOf(const QJsonObject &c)
{
    return QRect(twipsToPixels(c.value(QLatin1String("left")).toInt()),
                 twipsToPixels(c.value(QLatin1String("top")).toInt()),
                 twipsToPixels(c.value(QLatin1String("width")).toInt()),
                 twipsToPixels(c.value(QLatin1String("height")).toInt()));
}

QString keyOf(const QJsonObject &c)
{
    const QString name = c.value(QLatin1String("name")).toString();
    if (c.contains(QLatin1String("index")))
        return QStringLiteral("%1(%2)").arg(name).arg(c.value(QLatin1String("index")).toInt());
    return name;
}

class Builder
{
public:
    Builder(const QString &baseDir, Form *form, const Registry *registry)
        : m_baseDir(baseDir), m_form(form), m_registry(registry)
    {}

    QPixmap picture(const QString &name) const
    {
        QPixmap p(QDir(m_baseDir).filePath(name));
        if (p.isNull())
            throw ComError(ErrFileNotFound, QStringLiteral("picture %1 not found").arg(name));
        return p;
    }

    // The same picture drawn at twice the size, kept beside it as name@2x.png; null if none.
    QPixmap sharper(const QString &name) const
    {
        const QFileInfo one(QDir(m_baseDir).filePath(name));
        const QString two =
            one.dir().filePath(one.completeBaseName() + QLatin1String("@2x.") + one.suffix());
        return QFileInfo::exists(two) ? QPixmap(two) : QPixmap();
    }

    QObject *build(const QJsonObject &c, QWidget *container);

private:
    QWidget *buildWidget(const QString &kind, const QJsonObject &c, QWidget *container);
    QObject *buildComponent(const QJsonObject &c, QWidget *container);
    PropertyBag bagOf(const QJsonObject &bag) const;
    void applyCommon(QWidget *w, const QJsonObject &c);

    QString m_baseDir;
    Form *m_form;
    const Registry *m_registry;
};

PropertyBag Builder::bagOf(const QJsonObject &json) const
{
    PropertyBag bag;
    for (auto it = json.begin(); it != json.end(); ++it) {
        const QJsonValue v = it.value();
        if (v.isObject() && v.toObject().contains(QLatin1String("picture"))) {
            const QString name = v.toObject().value(QLatin1String("picture")).toString();
            const QImage image = picture(name).toImage();
            setSharperPicture(image, sharper(name).toImage());
            bag.set(it.key(), image);
        } else {
            bag.set(it.key(), v.toVariant());
        }
    }
    return bag;
}

QObject *Builder::buildComponent(const QJsonObject &c, QWidget *container)
{
    auto *host = new ComponentHost(keyOf(c), m_form);
    try {
        host->create(c.value(QLatin1String("class")).toString(), m_registry);
        if (QWidget *w = host->widget()) {
            w->setParent(container);
            w->setGeometry(placeOf(c));
            applyCommon(w, c);
        }
        if (c.contains(QLatin1String("bag"))) {
            PropertyBag bag = bagOf(c.value(QLatin1String("bag")).toObject());
            host->control()->readProperties(bag);
        } else {
            host->control()->initNew();
        }
    } catch (const ComError &e) {
        delete host;
        throw ComError(e.number(), QStringLiteral("%1: %2").arg(keyOf(c), e.description()));
    }
    return host;
}

QWidget *Builder::buildWidget(const QString &kind, const QJsonObject &c, QWidget *container)
{
    const QString caption = c.value(QLatin1String("caption")).toString();
    if (kind == QLatin1String("Label")) {
        auto *label = new Label(container);
        label->setGeometry(placeOf(c));
        label->setWordWrap(c.value(QLatin1String("wordWrap")).toBool());
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if (c.contains(QLatin1String("foreColor")))
            label->setForeColor(colorValue(c.value(QLatin1String("foreColor"))));
        label->setTransparent(c.value(QLatin1String("transparent")).toBool(true));
        if (c.contains(QLatin1String("font")))
            label->setFont(fontValue(c.value(QLatin1String("font")).toObject(), label->font()));
        label->setCaption(caption);
        label->setAutoSize(c.value(QLatin1String("autoSize")).toBool());
        const QString cursor = c.value(QLatin1String("cursor")).toString();
        if (cursor == QLatin1String("hand")) {
            label->setCursor(Qt::PointingHandCursor);
        } else if (!cursor.isEmpty()) {
            const QJsonArray hot = c.value(QLatin1String("cursorHotSpot")).toArray();
            label->setCursor(QCursor(picture(cursor), hot.at(0).toInt(), hot.at(1).toInt()));
        }
        return label;
    }
    if (kind == QLatin1String("TextBox")) {
        auto *text = new TextBox(container);
        text->setText(c.value(QLatin1String("text")).toString());
        text->setAlignment(c.value(QLatin1String("alignment")).toInt());
        text->setReadOnly(c.value(QLatin1String("locked")).toBool());
        return text;
    }
    if (kind == QLatin1String("ListBox"))
        return new ListBox(container);
    if (kind == QLatin1String("CheckBox")) {
        auto *check = new CheckBox(container);
        check->setText(caption);
        check->setValue(c.value(QLatin1String("value")).toInt());
        return check;
    }
    if (kind == QLatin1String("OptionButton")) {
        auto *option = new OptionButton(c.value(QLatin1String("index")).toInt(), container);
        option->setText(caption);
        option->setChecked(c.value(QLatin1String("value")).toBool());
        return option;
    }
    if (kind == QLatin1String("ComboBox")) {
        auto *combo = new ComboBox(container);
        for (const QJsonValue &item : c.value(QLatin1String("items")).toArray())
            combo->addItem(item.toString());
        return combo;
    }
    if (kind == QLatin1String("Frame")) {
        auto *frame = new Frame(container);
        frame->setTitle(caption);
        return frame;
    }
    if (kind == QLatin1String("Image")) {
        auto *image = new Image(container);
        if (c.contains(QLatin1String("picture"))) {
            const QString name = c.value(QLatin1String("picture")).toString();
            image->setPicture(picture(name), sharper(name));
        }
        return image;
    }
    throw ComError(ErrTypeMismatch, QStringLiteral("unknown control kind %1").arg(kind));
}

void Builder::applyCommon(QWidget *w, const QJsonObject &c)
{
    if (c.contains(QLatin1String("font")))
        w->setFont(fontValue(c.value(QLatin1String("font")).toObject(), w->font()));
    if (c.contains(QLatin1String("toolTip")))
        w->setToolTip(c.value(QLatin1String("toolTip")).toString());
    if (!c.value(QLatin1String("visible")).toBool(true))
        w->setVisible(false);
    if (!c.value(QLatin1String("enabled")).toBool(true))
        w->setEnabled(false);
    if (c.contains(QLatin1String("decorative")))
        setDecorative(w, c.value(QLatin1String("decorative")).toBool());
}

QObject *Builder::build(const QJsonObject &c, QWidget *container)
{
    const QString kind = c.value(QLatin1String("kind")).toString();
    QObject *object = nullptr;
    if (kind == QLatin1String("Component")) {
        object = buildComponent(c, container);
    } else if (kind == QLatin1String("Timer")) {
        auto *timer = new QTimer(m_form);
        // Coarse timers may fire up to 5 % early; a 2000 ms hand-over must not.
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(c.value(QLatin1String("interval")).toInt());
        if (c.value(QLatin1String("enabled")).toBool(true))
            timer->start();
        object = timer;
    } else {
        QWidget *w = buildWidget(kind, c, container);
        if (kind != QLatin1String("Label"))
            w->setGeometry(placeOf(c));
        if (c.contains(QLatin1String("backColor"))) {
            const quint32 back = colorValue(c.value(QLatin1String("backColor")));
            QPalette p = w->palette();
            p.setColor(QPalette::Window, colorFromBgr(back));
            p.setColor(QPalette::Base, colorFromBgr(back));
            // Check boxes and option buttons fill their background with the Button role.
            if (kind == QLatin1String("CheckBox") || kind == QLatin1String("OptionButton") ||
                kind == QLatin1String("ComboBox"))
                p.setColor(QPalette::Button, colorFromBgr(back));
            w->setPalette(p);
            w->setAutoFillBackground(true);
        }
        if (c.contains(QLatin1String("foreColor")) && kind != QLatin1String("Label")) {
            const QColor fore = colorFromBgr(colorValue(c.value(QLatin1String("foreColor"))));
            QPalette p = w->palette();
            for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
                p.setColor(role, fore);
            w->setPalette(p);
        }
        if (kind == QLatin1String("Label") || kind == QLatin1String("Image") ||
            kind == QLatin1String("Frame"))
            w->setFocusPolicy(Qt::NoFocus);
        if (kind == QLatin1String("Label") && c.contains(QLatin1String("font")))
            w->setFont(fontValue(c.value(QLatin1String("font")).toObject(), w->font()));
        QJsonObject rest = c;
        if (kind == QLatin1String("Label"))
            rest.remove(QLatin1String("font")); // already applied before sizing to the text
        applyCommon(w, rest);
        object = w;
    }
    object->setObjectName(keyOf(c));
    if (c.contains(QLatin1String("tag")))
        setTag(object, c.value(QLatin1String("tag")).toString());
    return object;
}

QJsonObject readDescription(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ComError(ErrFileNotFound,
                       QStringLiteral("window description %1 cannot be read").arg(path));
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (!doc.isObject())
        throw ComError(ErrPathFileAccess,
                       QStringLiteral("window description %1: %2").arg(path, error.errorString()));
    return doc.object();
}

void applyWindow(const QJsonObject &d, Form *form, const Builder &builder)
{
    form->setObjectName(d.value(QLatin1String("name")).toString());
    form->setWindowTitle(d.value(QLatin1String("caption")).toString());
    const QSize client(twipsToPixels(d.value(QLatin1String("clientWidth")).toInt()),
                       twipsToPixels(d.value(QLatin1String("clientHeight")).toInt()));
    const QString border = d.value(QLatin1String("border")).toString(QStringLiteral("fixed"));
    Qt::WindowFlags flags = form->windowFlags() | Qt::Window;
    if (border == QLatin1String("none"))
        flags |= Qt::FramelessWindowHint;
    else if (border == QLatin1String("sizable-notitle"))
        // No title and no title-bar buttons (any of those brings the title bar back); the
        // border itself is asked of the window manager when the window is shown.
        flags = Qt::WindowFlags(form->windowType() | Qt::Window) | Qt::CustomizeWindowHint;
    form->setWindowFlags(flags);
    form->setSizingBorderOnly(border == QLatin1String("sizable-notitle"));
    if (border == QLatin1String("sizable") || border == QLatin1String("sizable-notitle"))
        form->resize(client);
    else
        form->setFixedSize(client);
    if (d.contains(QLatin1String("backColor")))
        form->setBackColor(colorValue(d.value(QLatin1String("backColor"))));
    if (d.contains(QLatin1String("picture")))
        form->setPicture(builder.picture(d.value(QLatin1String("picture")).toString()),
                         builder.sharper(d.value(QLatin1String("picture")).toString()));
    if (d.contains(QLatin1String("font")))
        form->setFont(fontValue(d.value(QLatin1String("font")).toObject(), form->font()));
    QIcon icon;
    for (const QJsonValue &name : d.value(QLatin1String("icon")).toArray()) {
        icon.addPixmap(builder.picture(name.toString()));
        const QPixmap sharper = builder.sharper(name.toString());
        if (!sharper.isNull())
            icon.addPixmap(sharper);
    }
    if (!icon.isNull())
        form->setWindowIcon(icon);
    const QString position = d.value(QLatin1String("position")).toString();
    QWidget *owner = form->parentWidget();
    if (position == QLatin1String("centerOwner") && owner) {
        const QPoint center = owner->geometry().center();
        form->move(center - QPoint(client.width() / 2, client.height() / 2));
    } else if (position == QLatin1String("centerScreen") ||
               position == QLatin1String("centerOwner")) {
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            form->move(area.center() - QPoint(client.width() / 2, client.height() / 2));
        }
    }
}

} // namespace

void FormLoader::load(const QString &descriptionPath, Form *form)
{
    const QJsonObject d = readDescription(descriptionPath);
    Builder builder(QFileInfo(descriptionPath).path(), form, m_registry);
    applyWindow(d, form, builder);

    // Containers first: a control is built once its container exists.
    QList<QJsonObject> pending;
    for (const QJsonValue &v : d.value(QLatin1String("controls")).toArray())
        pending.append(v.toObject());
    QList<QPair<int, QWidget *>> tabOrder;
    while (!pending.isEmpty()) {
        const qsizetype before = pending.size();
        for (auto it = pending.begin(); it != pending.end();) {
            const QString containerName = it->value(QLatin1String("container")).toString();
            QWidget *container = form;
            if (!containerName.isEmpty() && containerName != form->objectName()) {
                container = qobject_cast<QWidget *>(m_controls.value(containerName));
                if (!container) {
                    ++it;
                    continue;
                }
            }
            QObject *object = builder.build(*it, container);
            m_controls.insert(object->objectName(), object);
            m_order.append(object->objectName());
            QWidget *w = qobject_cast<QWidget *>(object);
            if (auto *host = qobject_cast<ComponentHost *>(object))
                w = host->widget();
            if (w && it->contains(QLatin1String("tabIndex")))
                tabOrder.append({it->value(QLatin1String("tabIndex")).toInt(), w});
            it = pending.erase(it);
        }
        if (pending.size() == before)
            throw ComError(ErrPathNotFound,
                           QStringLiteral("%1: container %2 of %3 does not exist")
                               .arg(descriptionPath,
                                    pending.first().value(QLatin1String("container")).toString(),
                                    keyOf(pending.first())));
    }
    std::stable_sort(tabOrder.begin(), tabOrder.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    // Frames, labels and images hold tab positions but never the focus, and Qt leaves the chain
    // untouched at any pair that names one: link the controls that take the focus only.
    tabOrder.removeIf([](const auto &entry) { return entry.second->focusPolicy() == Qt::NoFocus; });
    for (int i = 1; i < tabOrder.size(); ++i)
        QWidget::setTabOrder(tabOrder[i - 1].second, tabOrder[i].second);
}

} // namespace rt
