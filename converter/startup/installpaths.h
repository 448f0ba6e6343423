#pragma once

#include <QString>

// The registration tool shipped with the program: beside it in a build folder, in the
// install's libexec folder once installed; "" when neither is there. Never looked up on PATH,
// where a relative entry would run whatever the current folder holds.
QString RegistrationTool(const QString &programFolder);

// Where the program runs from: a build folder, with the registration tool beside it, or an
// install prefix (<prefix>/bin, the tool in <prefix>/libexec/batchmp3).
bool RunsFromInstallPrefix(const QString &programFolder);

// The folder Text1 starts with: the program's own folder, as always, unless it is installed
// or the user may not write there; then the user's music folder (the home folder without one).
QString DefaultOutputFolder(const QString &programFolder);
