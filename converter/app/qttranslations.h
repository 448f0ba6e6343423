#pragma once

class QCoreApplication;

// Qt's own texts (the file dialog's labels, the buttons of message boxes) in Chinese, like every
// other text of the program, whatever the user's locale. Loaded from Qt's translations folder;
// false when they are not installed there, and the program goes on with Qt's English.
bool LoadQtChinese(QCoreApplication &app);
