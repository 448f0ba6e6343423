#include "buttonctl/control/ztbuttonmembers.h"

namespace ztbutton {

namespace {

rt::MemberInfo property(rt::DispId id, const char *name, const char *help)
{
    rt::MemberInfo m;
    m.id = id;
    m.name = QString::fromLatin1(name);
    m.kind = rt::MemberKind::Property;
    m.canGet = true;
    m.canPut = true;
    m.parameters = {QStringLiteral("NewValue")};
    m.help = QString::fromUtf8(help);
    return m;
}

rt::MemberInfo event(rt::DispId id, const char *name, QStringList parameters = {})
{
    rt::MemberInfo m;
    m.id = id;
    m.name = QString::fromLatin1(name);
    m.kind = rt::MemberKind::Event;
    m.parameters = std::move(parameters);
    return m;
}

QList<rt::MemberInfo> buildMembers()
{
    const QStringList key{QStringLiteral("KeyCode"), QStringLiteral("Shift")};
    const QStringList mouse{QStringLiteral("Button"), QStringLiteral("Shift"), QStringLiteral("X"),
                            QStringLiteral("Y")};
    const QStringList point{QStringLiteral("X"), QStringLiteral("Y")};
    return {
        property(DispCaptionAlignment, "CaptionAlignment",
                 "(ZantoXP按扭)返回/设置按扭的本对齐方式"),
        property(DispIconAlignment, "IconAlignment", "(ZantoXP按扭)返回/设置按扭的图标对齐方式"),
        property(DispCaption, "Caption", "(ZantoXP按扭)返回/设置按扭的标题"),
        property(DispForeColor, "ForeColor", "(ZantoXP按扭)返回/设置按扭的字体颜色"),
        property(DispColorStyle, "ColorStyle", "(ZantoXP按扭)返回/设置按扭的样式"),
        property(DispFocusDottedRect, "FocusDottedRect", "(ZantoXP按扭)返回/设置按扭的是否有焦点"),
        property(DispEnabled, "Enabled", "(ZantoXP按扭)返回/设置一个值按扭的是否响应用户事件"),
        property(DispFontType, "FontType", "(ZantoXP按扭)返回/设置一个值按扭的字体"),
        property(DispIconMask, "IconMask", "(ZantoXP按扭)返回/设置一个值按扭的Mask图标"),
        property(DispIcon, "Icon", "(ZantoXP按扭)返回/设置一个值按扭的图标"),
        property(DispRoundedValue, "RoundedValue", "(ZantoXP按扭)返回/设置一个值按扭的圆角度数"),
        event(EventClick, "Click"),
        event(EventDoubleClick, "DoubleClick"),
        event(EventKeyDown, "KeyDown", key),
        event(EventKeyPress, "KeyPress", {QStringLiteral("KeyAscii")}),
        event(EventKeyUp, "KeyUp", key),
        event(EventMouseDown, "MouseDown", mouse),
        event(EventMouseMove, "MouseMove", mouse),
        event(EventMouseUp, "MouseUp", mouse),
        event(EventMouseEnters, "MouseEnters", point),
        event(EventMouseLeaves, "MouseLeaves", point),
    };
}

} // namespace

const QList<rt::MemberInfo> &members()
{
    static const QList<rt::MemberInfo> table = buildMembers();
    return table;
}

} // namespace ztbutton
