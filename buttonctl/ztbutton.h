#pragma once

#include "buttonctl/drawsurface.h"
#include "buttonctl/scaledlook.h"
#include "runtime/control.h"

#include <QFont>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

namespace rt {
class PropertyBag;
}

// The enumerations the library publishes (member names as published in the comments).
enum COLOR_STYLE : qint32
{
    DefaultStyle = 1,   // 默认风格
    LightBlueStyle = 2, // 淡蓝风格
    YellowStyle = 3,    // 黄色风格
};
enum PICTURE_ALIGN : qint32
{
    LeftJustify = 1,  // Left Justify
    RightJustify = 2, // Right Justify
};

struct CursorPoint
{
    qint32 X = 0;
    qint32 Y = 0;
};

// What the button asks of its host: ambient values, change notification and the event sink.
class ZTbuttonHost
{
public:
    virtual ~ZTbuttonHost() = default;
    virtual QString displayName() const = 0;
    virtual bool userMode() const = 0;
    virtual void propertyChanged(const QString &name) = 0;
    virtual void raise(rt::DispId id, QVariantList &args) = 0;
};

// The owner-drawn XP-style push button. Its input rules are its own (Space only shows the
// pressed look, hover is polled), so it is a plain QWidget that shows a backing image.
class ZTbutton : public QWidget
{
    Q_OBJECT
    // The backing image, read-only, for hosts that want to look at what was drawn.
    Q_PROPERTY(QImage surfaceImage READ surfaceImage)

public:
    explicit ZTbutton(ZTbuttonHost *host, QWidget *parent = nullptr);
    ~ZTbutton() override;

    // The host is going away: stop the timer, drop the flags, raise nothing more.
    void Terminate();
    void detachHost() { m_host = nullptr; }
    bool inHandler() const { return m_handlerDepth > 0; }

    qint32 CaptionAlignment() const { return m_CaptionAlignment; }
    void setCaptionAlignment(qint32 NewValue);
    qint32 IconAlignment() const { return m_IconAlignment; }
    void setIconAlignment(qint32 NewValue);
    QString Caption() const { return m_Caption; }
    void setCaption(const QString &NewValue);
    quint32 ForeColor() const { return m_ForeColor; }
    void setForeColor(quint32 NewValue);
    qint32 ColorStyle() const { return m_ColorStyle; }
    void setColorStyle(qint32 NewValue);
    bool FocusDottedRect() const { return m_FocusDottedRect; }
    void setFocusDottedRect(bool NewValue);
    bool Enabled() const { return m_Enabled; }
    void setEnabled(bool NewValue);
    QFont FontType() const { return m_surface.Font(); }
    void setFontType(const QFont &NewValue);
    QImage IconMask() const { return m_IconMask; }
    void setIconMask(const QImage &NewValue);
    QImage Icon() const { return m_Icon; }
    void setIcon(const QImage &NewValue);
    qint32 RoundedValue() const { return m_RoundedValue; }
    void setRoundedValue(qint32 NewValue);

    void InitProperties();
    void ReadProperties(rt::PropertyBag &PropBag);
    void WriteProperties(rt::PropertyBag &PropBag) const;

    // The one complete repaint: region, background, border, state frame, dots, icon, caption.
    void RedrawButton();

    QImage surfaceImage() const { return m_surface.image(); }

    // For assistive technology: the pressed look, and a press that is Enter's, event for event.
    bool isPressed() const { return m_Pressed; }
    void pressLikeEnter();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    // The platform's notifications, under the forms runtime's names.
    void UserControl_Click();
    void UserControl_DblClick();
    void UserControl_GotFocus();
    void UserControl_LostFocus();
    void UserControl_KeyDown(qint16 KeyCode, qint16 Shift);
    void UserControl_KeyPress(qint16 KeyAscii);
    void UserControl_KeyUp(qint16 KeyCode, qint16 Shift);
    void UserControl_MouseDown(qint16 Button, qint16 Shift, float X, float Y);
    void UserControl_MouseMove(qint16 Button, qint16 Shift, float X, float Y);
    void UserControl_MouseUp(qint16 Button, qint16 Shift, float X, float Y);
    void UserControl_Paint();
    void tmrCheck_Timer();

    // The look as it stands: what the 1x surface and screens of other pixel ratios draw.
    ButtonLook currentLook() const;
    void DrawLook(const ButtonLook &look);
    void DrawFrame(const quint32 *colors, int lines);
    void DrawFocusDots();
    void DrawButtonIcon();
    void DrawButtonCaption(const QString &caption, qint32 alignment);

    int W() const { return vbRound(m_surface.ScaleWidth()); }
    int H() const { return vbRound(m_surface.ScaleHeight()); }
    void syncSurfaceSize();
    void changed(const QString &name);
    // Raises an event; false when the button was destroyed by the host's handler.
    bool raise(rt::DispId id, QVariantList &args);

    ZTbuttonHost *m_host;
    int m_handlerDepth = 0;
    bool m_clickArmed = false;

    QString m_Caption;
    quint32 m_ForeColor = 0;
    qint32 m_ColorStyle = 0;
    qint32 m_CaptionAlignment = 0;
    qint32 m_IconAlignment = 0;
    CursorPoint m_CursorPos;
    bool m_Pressed = false;
    bool m_MouseOver = false;
    bool m_HasFocus = false;
    bool m_FocusDottedRect = false;
    bool m_Enabled = false;
    qint32 m_RoundedValue = 0;
    QImage m_Icon;
    QImage m_IconMask;

    DrawSurface m_surface;
    // The look drawn for the screen's pixel ratio when that is not 1, until the next redraw.
    QImage m_scaled;
    qreal m_regionRatio = 1.0;
    QTimer tmrCheck;
    DrawSurface imgIcon;
    DrawSurface imgMask;
    DrawSurface imgDis;
};

// The button as a component instance: late-bound properties, events and persistence.
class ZTbuttonControl final : public rt::Control, private ZTbuttonHost
{
public:
    explicit ZTbuttonControl(rt::ControlSite *site);
    ~ZTbuttonControl() override;

    QWidget *widget() override { return m_button; }
    QList<rt::MemberInfo> members() const override;
    QVariant getProperty(rt::DispId id) override;
    void putProperty(rt::DispId id, const QVariant &value) override;
    QVariant invoke(rt::DispId id, const QVariantList &args) override;
    void initNew() override;
    void readProperties(rt::PropertyBag &bag) override;
    void writeProperties(rt::PropertyBag &bag) override;

private:
    QString displayName() const override;
    bool userMode() const override;
    void propertyChanged(const QString &name) override;
    void raise(rt::DispId id, QVariantList &args) override;
    ZTbutton &button();

    QPointer<ZTbutton> m_button;
};
