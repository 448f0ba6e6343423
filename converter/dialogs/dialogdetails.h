#pragma once

class QFileDialog;

// The file dialog's detail columns (size, type, date) in Chinese, with dates and sizes written the
// Chinese way whatever the user's locale, and wide enough to be read whole.
void ShowDetailsInChinese(QFileDialog &dialog);

// Qt's own settings (the file dialog's history) are kept nowhere: the program stores nothing
// between runs. Call before anything reads or writes them.
void KeepNoSettings();
