#pragma once

#include <QStringList>

// Reads the program's command line: --help and --version answer and end the program;
// --threads N sets the cores each file is encoded on (a bad N ends the program with status 2);
// the rest are files and folders to add ("batchmp3 %F" from the desktop entry). Taken from
// argv as bytes, so a file name that is not UTF-8 reaches the list as it is.
void ReadCommandLine(int argc, char **argv);

// The file arguments, handed over once: the main window takes them when it is up.
QStringList TakeFileArguments();
