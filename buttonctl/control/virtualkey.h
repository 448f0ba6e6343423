#pragma once

#include <QtGlobal>
#include <qnamespace.h>

// The platform's virtual-key code of a Qt key (KeyCode of the key events); 0 for a key it has
// none for. Keypad keys (Qt::KeypadModifier) have codes of their own.
qint16 virtualKey(int key, Qt::KeyboardModifiers modifiers);
