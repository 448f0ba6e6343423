#pragma once

#include <QLine>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace buttontest {

// One colour style's enabled look (0x00BBGGRR), frame colours in the lines' drawing order.
struct Expected
{
    quint32 top, bottom, border;
    quint32 hover[8], focus[8];
    quint32 pressedTop, pressedBottom;
    quint32 pressed[8];
    int pressedLines; // the pressed rings drawn, the first ones in order
};

// The look tables of looktables.md: the frame lines and the colours of every look.
struct LookTables
{
    Expected styles[3];
    quint32 disabledBack = 0, disabledBorder = 0, disabledCaption = 0;
    // Line i (0 to 7) of a button w x h pixels, from its first end to its second.
    QLine line(int i, int w, int h) const;

    QStringList lineNames;
    QStringList lineEnds; // "x1,y1,x2,y2" with W and H in them, as the table writes them
};

// Reads the tables; an empty text when every row is there and each colour's value agrees with
// its (R,G,B), otherwise what is wrong.
QString readLookTables(const QString &path, LookTables *tables);

} // namespace buttontest
