#pragma once

#include <QString>

// Where the program runs from: a build folder, with the registration tool beside it, or an
// install prefix (<prefix>/bin, the tool in <prefix>/libexec/batchmp3).
bool RunsFromInstallPrefix(const QString &programFolder);

// The folder Text1 starts with: the program's own folder, as always, unless it is installed
// or the user may not write there; then the user's music folder (the home folder without one).
QString DefaultOutputFolder(const QString &programFolder);
