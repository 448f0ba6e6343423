#pragma once

// The intrinsic controls of a window (timers are plain QTimer), as thin helpers over Qt's widgets
// that keep the operations and names the window logic uses (ListIndex raising Click, Tag on every
// control, labels sized to their text over a transparent background, colours as 0x00BBGGRR).

#include "runtime/export.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QRadioButton>
#include <QWidget>

namespace rt {

constexpr int TwipsPerPixel = 15;
constexpr int twipsToPixels(int twips)
{
    return twips / TwipsPerPixel;
}

// 0x00BBGGRR, red in the low byte.
RT_EXPORT QColor colorFromBgr(quint32 bgr);
RT_EXPORT quint32 bgrFromColor(const QColor &color);

// A picture may come with a drawing of itself at twice its size, for screens with more device
// pixels to a pixel: the picture's own pixels stay what a 1x screen shows.
RT_EXPORT void setSharperPicture(const QImage &picture, const QImage &sharper);
RT_EXPORT QImage sharperPicture(const QImage &picture); // null when there is none

// A control that only decorates (a picture, an arrow drawn in text) is left out of what screen
// readers are shown.
RT_EXPORT void setDecorative(QWidget *control, bool on);
RT_EXPORT bool isDecorative(const QWidget *control);

// Every control carries a text Tag, kept as a dynamic property.
RT_EXPORT QString tag(const QObject *control);
RT_EXPORT void setTag(QObject *control, const QString &value);

// A window with a back colour under a picture drawn from the top-left corner.
class RT_EXPORT Form : public QWidget
{
    Q_OBJECT
public:
    explicit Form(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~Form() override;
    void setBackColor(quint32 bgr);
    void setPicture(const QPixmap &picture, const QPixmap &sharper = QPixmap());
    // A sizing border only: no title bar, no caption, no icon.
    void setSizingBorderOnly(bool on);
    bool sizingBorderOnly() const { return m_sizingBorderOnly; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QPixmap m_picture;
    QPixmap m_sharper;
    bool m_sizingBorderOnly = false;
};

class RT_EXPORT ListBox : public QListWidget
{
    Q_OBJECT
public:
    explicit ListBox(QWidget *parent = nullptr);
    void AddItem(const QString &item);
    void Clear();
    int ListCount() const;
    int ListIndex() const;
    void setListIndex(int index); // raises Click, also when code writes it
    QString Text() const;         // the selected entry, "" when none
    QString List(int index) const;
    // A text kept with an entry and never shown (the forms runtime keeps a number there).
    QString ItemData(int index) const;
    void setItemData(int index, const QString &data);

signals:
    void Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
};

class RT_EXPORT TextBox : public QLineEdit
{
    Q_OBJECT
public:
    explicit TextBox(QWidget *parent = nullptr);
    QString Text() const { return text(); }
    void setAlignment(int alignment); // 0 left, 1 right, 2 centre
    int Alignment() const;
    void setSelStart(int position);
    void setBackColor(quint32 bgr);
    void setForeColor(quint32 bgr);
};

class RT_EXPORT Label : public QLabel
{
    Q_OBJECT
public:
    explicit Label(QWidget *parent = nullptr);
    QString Caption() const { return text(); }
    void setCaption(const QString &caption);
    void setForeColor(quint32 bgr);
    quint32 ForeColor() const { return m_foreColor; }
    void setAutoSize(bool on);
    void setTransparent(bool on);

signals:
    void Click();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void fitToText();
    quint32 m_foreColor = 0;
    bool m_autoSize = false;
};

class RT_EXPORT CheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit CheckBox(QWidget *parent = nullptr);
    int Value() const { return isChecked() ? 1 : 0; }
    void setValue(int value) { setChecked(value == 1); }
    void setBackColor(quint32 bgr);
    void setForeColor(quint32 bgr);

signals:
    void Click();
};

class RT_EXPORT OptionButton : public QRadioButton
{
    Q_OBJECT
public:
    explicit OptionButton(int index, QWidget *parent = nullptr);
    int Index() const { return m_index; }
    void setBackColor(quint32 bgr);
    void setForeColor(quint32 bgr);

signals:
    void Click(int index);

protected:
    void focusInEvent(QFocusEvent *event) override;

private:
    // The selected option of a group is its one stop for Tab, wherever the focus last was in it.
    static void giveTabStopToSelected(QWidget *group);

    int m_index;
};

// A drop-down list of choices; ListIndex is the chosen one, -1 for none.
class RT_EXPORT ComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit ComboBox(QWidget *parent = nullptr);
    int ListIndex() const { return currentIndex(); }
    void setListIndex(int index) { setCurrentIndex(index); }
    void setBackColor(quint32 bgr);
    void setForeColor(quint32 bgr);
};

// A frame: disabling it disables what is inside.
class RT_EXPORT Frame : public QGroupBox
{
    Q_OBJECT
public:
    explicit Frame(QWidget *parent = nullptr);
    void setBackColor(quint32 bgr);
    void setForeColor(quint32 bgr);
};

class RT_EXPORT Image : public QLabel
{
    Q_OBJECT
public:
    explicit Image(QWidget *parent = nullptr);
    void setPicture(const QPixmap &picture, const QPixmap &sharper = QPixmap());

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_sharper;
};

} // namespace rt
