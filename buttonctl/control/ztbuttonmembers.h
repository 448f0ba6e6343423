#pragma once

#include "runtime/control.h"

#include <QList>

// What hosts see of the button: its properties' dispatch identifiers, its events' identifiers and
// the member table with the help strings.
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

// The properties and events, in declaration order, with their help strings.
const QList<rt::MemberInfo> &members();

} // namespace ztbutton
