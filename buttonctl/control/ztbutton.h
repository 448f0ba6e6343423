#pragma once

#include "buttonctl/gdi/drawsurface.h"
#include "buttonctl/look/buttonpainter.h"
#include "buttonctl/look/stylecolors.h"
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

// The picture alignments the library publishes (member names as published in the comments).
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
    bool event(QEvent *event) override;
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

    // The look as it stands, drawn on the 1x surface and on the screen's grid.
    ButtonLook currentLook() const;
    // A redraw where the screen's pixel ratio is no longer the one drawn for.
    void followPixelRatio();

    int W() const { return vbRound(m_surface.ScaleWidth()); }
    int H() const { return vbRound(m_surface.ScaleHeight()); }
    void syncSurfaceSize();
    void changed(const QString &name);
    // What every setter does: store the value, tell the host, redraw. No value is checked.
    template <class T> void store(T &field, const T &value, const char *name);
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
    // The look drawn for the screen's pixel ratio when that is not 1 (null at 1: the surface
    // is what the screen shows), and the ratio the last redraw was for.
    QImage m_screen;
    qreal m_ratio = 1.0;
    // The hover check, a child of the button so that it can be found by its name.
    QTimer tmrCheck{this};
};
