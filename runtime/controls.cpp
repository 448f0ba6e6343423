#include "runtime/controls.h"

#include "runtime/accessible.h"
#include "runtime/formloader.h"
#include "runtime/windowframe.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyle>
#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

namespace rt {

namespace {

void setRole(QWidget *w, QPalette::ColorRole role, quint32 bgr)
{
    QPalette p = w->palette();
    p.setColor(role, colorFromBgr(bgr));
    w->setPalette(p);
}

void setBack(QWidget *w, quint32 bgr)
{
    setRole(w, QPalette::Window, bgr);
    setRole(w, QPalette::Base, bgr);
    w->setAutoFillBackground(true);
}

void setFore(QWidget *w, quint32 bgr)
{
    setRole(w, QPalette::WindowText, bgr);
    setRole(w, QPalette::Text, bgr);
    setRole(w, QPalette::ButtonText, bgr);
}

// A picture drawn where the screen has more device pixels than logical ones: the sharper drawing,
// brought down to the picture's own size, when there is one.
void drawPicture(QPainter &painter, const QRect &target, const QPixmap &picture,
                 const QPixmap &sharper, qreal ratio)
{
    if (!sharper.isNull() && ratio > 1.0) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(target, sharper);
    } else {
        painter.drawPixmap(target.topLeft(), picture);
    }
}

struct SharperPictures
{
    std::mutex lock;
    // By the picture's cache key: copies of a picture share it, and keys are never reused.
    std::map<qint64, QImage> byKey;
};

SharperPictures &sharperPictures()
{
    static SharperPictures pictures;
    return pictures;
}

} // namespace

void setSharperPicture(const QImage &picture, const QImage &sharper)
{
    if (picture.isNull())
        return;
    SharperPictures &pictures = sharperPictures();
    const std::lock_guard<std::mutex> hold(pictures.lock);
    if (sharper.isNull())
        pictures.byKey.erase(picture.cacheKey());
    else
        pictures.byKey[picture.cacheKey()] = sharper;
}

QImage sharperPicture(const QImage &picture)
{
    if (picture.isNull())
        return QImage();
    SharperPictures &pictures = sharperPictures();
    const std::lock_guard<std::mutex> hold(pictures.lock);
    const auto found = pictures.byKey.find(picture.cacheKey());
    return found == pictures.byKey.end() ? QImage() : found->second;
}

void setDecorative(QWidget *control, bool on)
{
    if (control)
        control->setProperty("rt_decorative", on);
}

bool isDecorative(const QWidget *control)
{
    return control && control->property("rt_decorative").toBool();
}

QColor colorFromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

quint32 bgrFromColor(const QColor &color)
{
    return quint32(color.red()) | (quint32(color.green()) << 8) | (quint32(color.blue()) << 16);
}

QString tag(const QObject *control)
{
    return control ? control->property("Tag").toString() : QString();
}

void setTag(QObject *control, const QString &value)
{
    if (control)
        control->setProperty("Tag", value);
}

Form::Form(QWidget *parent, Qt::WindowFlags flags) : QWidget(parent, flags)
{
    installAccessibleControls();
}

Form::~Form()
{
    // The window releases its component instances before its child widgets go, so each
    // instance tears down its own window and timers itself.
    qDeleteAll(findChildren<ComponentHost *>(Qt::FindDirectChildrenOnly));
}

void Form::setBackColor(quint32 bgr)
{
    setRole(this, QPalette::Window, bgr);
}

void Form::setPicture(const QPixmap &picture, const QPixmap &sharper)
{
    m_picture = picture;
    m_sharper = sharper;
    update();
}

void Form::setSizingBorderOnly(bool on)
{
    m_sizingBorderOnly = on;
    // Wayland has no window manager hints: the window goes without the compositor's or Qt's
    // decorations and draws its border itself.
    if (on && QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        setWindowFlag(Qt::FramelessWindowHint, true);
    // An icon of its own, an empty one: otherwise an owned window shows its owner's.
    if (on)
        setWindowIcon(QIcon());
}

void Form::showEvent(QShowEvent *event)
{
    // Sent before the window is mapped, so the window manager frames it as asked from the start.
    if (m_sizingBorderOnly && isWindow())
        applySizingBorderOnly(this);
    QWidget::showEvent(event);
}

void Form::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    // Clipped to the client area by the painter.
    if (!m_picture.isNull())
        drawPicture(painter, QRect(QPoint(0, 0), m_picture.size()), m_picture, m_sharper,
                    devicePixelRatioF());
    if (m_sizingBorderOnly && (windowFlags() & Qt::FramelessWindowHint)) {
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

ListBox::ListBox(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
    connect(this, &QListWidget::itemClicked, this, [this] { emit Click(); });
}

// Moving the selection from the keyboard (arrows, Home, End, Page Up/Down, a typed letter) is a
// Click too, as a mouse click on the entry is.
void ListBox::keyPressEvent(QKeyEvent *event)
{
    const int before = currentRow();
    QListWidget::keyPressEvent(event);
    if (currentRow() != before && currentRow() >= 0)
        emit Click();
}

void ListBox::showEvent(QShowEvent *event)
{
    // On a fractional pixel ratio the items' area, rounded to device pixels, would cover the
    // one-pixel frame on three sides: it keeps a pixel of distance there.
    const qreal ratio = devicePixelRatioF();
    const int margin = ratio == std::floor(ratio) ? 0 : 1;
    setViewportMargins(margin, margin, margin, margin);
    QListWidget::showEvent(event);
}

void ListBox::AddItem(const QString &item)
{
    addItem(item);
}

void ListBox::Clear()
{
    clear();
}

int ListBox::ListCount() const
{
    return count();
}

int ListBox::ListIndex() const
{
    return currentRow();
}

void ListBox::setListIndex(int index)
{
    setCurrentRow(index);
    if (index >= 0 && index < count())
        scrollToItem(item(index));
    emit Click();
}

QString ListBox::Text() const
{
    const QListWidgetItem *current = currentItem();
    return current && currentRow() >= 0 ? current->text() : QString();
}

QString ListBox::List(int index) const
{
    const QListWidgetItem *it = item(index);
    return it ? it->text() : QString();
}

QString ListBox::ItemData(int index) const
{
    const QListWidgetItem *it = item(index);
    return it ? it->data(Qt::UserRole).toString() : QString();
}

void ListBox::setItemData(int index, const QString &data)
{
    if (QListWidgetItem *it = item(index))
        it->setData(Qt::UserRole, data);
}

TextBox::TextBox(QWidget *parent) : QLineEdit(parent)
{
    setFrame(true);
}

void TextBox::setAlignment(int alignment)
{
    const Qt::Alignment h = alignment == 1   ? Qt::AlignRight
                            : alignment == 2 ? Qt::AlignHCenter
                                             : Qt::AlignLeft;
    QLineEdit::setAlignment(h | Qt::AlignVCenter);
}

int TextBox::Alignment() const
{
    const Qt::Alignment a = QLineEdit::alignment();
    if (a & Qt::AlignRight)
        return 1;
    if (a & Qt::AlignHCenter)
        return 2;
    return 0;
}

void TextBox::setSelStart(int position)
{
    setCursorPosition(position);
}

void TextBox::setBackColor(quint32 bgr)
{
    setBack(this, bgr);
}

void TextBox::setForeColor(quint32 bgr)
{
    setFore(this, bgr);
}

Label::Label(QWidget *parent) : QLabel(parent)
{
    setTransparent(true);
}

void Label::setCaption(const QString &caption)
{
    setText(caption);
    fitToText();
}

void Label::setForeColor(quint32 bgr)
{
    m_foreColor = bgr;
    setFore(this, bgr);
}

void Label::setAutoSize(bool on)
{
    m_autoSize = on;
    fitToText();
}

void Label::setTransparent(bool on)
{
    setAutoFillBackground(!on);
    setAttribute(Qt::WA_NoSystemBackground, on);
}

void Label::fitToText()
{
    if (m_autoSize)
        resize(sizeHint());
}

void Label::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Click();
}

ComboBox::ComboBox(QWidget *parent) : QComboBox(parent)
{}

void ComboBox::setBackColor(quint32 bgr)
{
    setBack(this, bgr);
    setRole(this, QPalette::Button, bgr);
}

void ComboBox::setForeColor(quint32 bgr)
{
    setFore(this, bgr);
}

CheckBox::CheckBox(QWidget *parent) : QCheckBox(parent)
{
    connect(this, &QCheckBox::clicked, this, [this] { emit Click(); });
}

void CheckBox::setBackColor(quint32 bgr)
{
    setBack(this, bgr);
}

void CheckBox::setForeColor(quint32 bgr)
{
    setFore(this, bgr);
}

namespace {

// Option circles of the size the small 8.25 pt options have, so each fits a row 12-13 px high;
// the label keeps its place (the room the circle gives up goes to the spacing).
class SmallIndicatorStyle : public QProxyStyle
{
public:
    static constexpr int Indicator = 11;

    int pixelMetric(PixelMetric metric, const QStyleOption *option,
                    const QWidget *widget) const override
    {
        const int base = QProxyStyle::pixelMetric(metric, option, widget);
        switch (metric) {
        case PM_ExclusiveIndicatorWidth:
        case PM_ExclusiveIndicatorHeight:
            return std::min(base, Indicator);
        case PM_RadioButtonLabelSpacing: {
            const int width = QProxyStyle::pixelMetric(PM_ExclusiveIndicatorWidth, option, widget);
            return base + width - std::min(width, Indicator);
        }
        default:
            return base;
        }
    }
};

QStyle *smallIndicatorStyle()
{
    // One for the whole program, gone with the application.
    static QPointer<QStyle> style;
    if (!style) {
        style = new SmallIndicatorStyle;
        style->setParent(QCoreApplication::instance());
    }
    return style;
}

} // namespace

OptionButton::OptionButton(int index, QWidget *parent) : QRadioButton(parent), m_index(index)
{
    setStyle(smallIndicatorStyle());
    connect(this, &QRadioButton::clicked, this, [this] { emit Click(m_index); });
    connect(this, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            giveTabStopToSelected(parentWidget());
    });
    giveTabStopToSelected(parent); // joining a group whose option is already chosen
}

void OptionButton::focusInEvent(QFocusEvent *event)
{
    QRadioButton::focusInEvent(event); // Qt makes the focused option the group's tab stop
    giveTabStopToSelected(parentWidget());
}

void OptionButton::giveTabStopToSelected(QWidget *group)
{
    if (!group)
        return;
    const auto options = group->findChildren<OptionButton *>(Qt::FindDirectChildrenOnly);
    if (std::none_of(options.begin(), options.end(), [](auto *o) { return o->isChecked(); }))
        return;
    for (OptionButton *option : options)
        option->setFocusPolicy(option->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
}

void OptionButton::setBackColor(quint32 bgr)
{
    setBack(this, bgr);
}

void OptionButton::setForeColor(quint32 bgr)
{
    setFore(this, bgr);
}

Frame::Frame(QWidget *parent) : QGroupBox(parent)
{}

void Frame::setBackColor(quint32 bgr)
{
    setBack(this, bgr);
}

void Frame::setForeColor(quint32 bgr)
{
    setFore(this, bgr);
}

Image::Image(QWidget *parent) : QLabel(parent)
{
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setDecorative(this, true);
}

void Image::setPicture(const QPixmap &picture, const QPixmap &sharper)
{
    m_sharper = sharper;
    setPixmap(picture);
}

void Image::paintEvent(QPaintEvent *event)
{
    const QPixmap picture = pixmap();
    if (m_sharper.isNull() || picture.isNull() || devicePixelRatioF() <= 1.0) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QRect target =
        QStyle::alignedRect(layoutDirection(), alignment(), picture.size(), contentsRect());
    drawPicture(painter, target, picture, m_sharper, devicePixelRatioF());
}

} // namespace rt
