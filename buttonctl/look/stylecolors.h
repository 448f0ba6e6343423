#pragma once

#include <QtGlobal>

// The enumerations the library publishes (member names as published in the comments).
enum COLOR_STYLE : qint32
{
    DefaultStyle = 1,   // 默认风格
    LightBlueStyle = 2, // 淡蓝风格
    YellowStyle = 3,    // 黄色风格
};

// The look of one colour style, each colour 0x00BBGGRR. Frame colours run in the order the
// lines are drawn: ring 1 top, left, bottom, right, then ring 2 top, left, bottom, right.
struct StyleColors
{
    quint32 backTop;
    quint32 backBottom;
    quint32 border;
    quint32 hover[8];
    quint32 focus[8];
    quint32 pressedTop;
    quint32 pressedBottom;
    quint32 pressedBorder;
    quint32 pressed[8];
    int pressedLines;
};

// The colours of a COLOR_STYLE value; null for any other value.
const StyleColors *StyleColorsOf(qint32 ColorStyle);

// The disabled look, shared by all styles.
constexpr quint32 DisabledBack = 0xEAF4F5;
constexpr quint32 DisabledBorder = 0xBAC7C9;
constexpr quint32 DisabledCaption = 0xBAC7C9;
