#pragma once

#include "runtime/control.h"

#include <QList>

// The public face of the button library: dispatch identifiers, event identifiers, and the fixed
// identifiers of its type library, class and interfaces.
namespace ztbutton {

// Properties of _ZTbutton, counting down from the last declared.
enum DispIds : rt::DispId
{
    DispCaptionAlignment = 0x6803000A,
    DispIconAlignment = 0x68030009,
    DispCaption = 0x68030008,
    DispForeColor = 0x68030007,
    DispColorStyle = 0x68030006,
    DispFocusDottedRect = 0x68030005,
    DispEnabled = 0x68030004,
    DispFontType = 0x68030003,
    DispIconMask = 0x68030002,
    DispIcon = 0x68030001,
    DispRoundedValue = 0x68030000,
};

// Events of __ZTbutton: the identifier is the position.
enum EventIds : rt::DispId
{
    EventClick = 1,
    EventDoubleClick = 2,
    EventKeyDown = 3,
    EventKeyPress = 4,
    EventKeyUp = 5,
    EventMouseDown = 6,
    EventMouseMove = 7,
    EventMouseUp = 8,
    EventMouseEnters = 9,
    EventMouseLeaves = 10,
};

inline constexpr char ProgId[] = "ZantoXP按扭.ZTbutton";
inline constexpr char ClassId[] = "{6B0C2E31-94D7-4F1A-B3A5-2E8C1D7F4A01}";
inline constexpr char TypeLibId[] = "{6B0C2E30-94D7-4F1A-B3A5-2E8C1D7F4A01}";
inline constexpr char InterfaceId[] = "{6B0C2E32-94D7-4F1A-B3A5-2E8C1D7F4A01}";       // _ZTbutton
inline constexpr char SourceInterfaceId[] = "{6B0C2E33-94D7-4F1A-B3A5-2E8C1D7F4A01}"; // __ZTbutton

// The properties and events, in declaration order, with their help strings.
const QList<rt::MemberInfo> &members();

} // namespace ztbutton
