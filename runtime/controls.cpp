#include "runtime/controls.h"

#include "runtime/formloader.h"
#include "runtime/windowframe.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <algorithm>

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

} // namespace

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
{}

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

void Form::setPicture(const QPixmap &picture)
{
    m_picture = picture;
    update();
}

void Form::setSizingBorderOnly(bool on)
{
    m_sizingBorderOnly = on;
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
    if (!m_picture.isNull())
        painter.drawPixmap(0, 0, m_picture); // clipped to the client area by the painter
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
}

void Image::setPicture(const QPixmap &picture)
{
    setPixmap(picture);
}

} // namespace rt
