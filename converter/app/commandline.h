#pragma once

#include "converter/batch/batchoptions.h"

#include <QStringList>
#include <optional>

// What the program's command line asks for. One set of options serves both modes, so --help
// lists them all:
//   batchmp3 [--threads N] [PATH...]            the window, PATHs added to its list
//   batchmp3 --convert [-b KBPS|-V N|--abr KBPS] [-o DIR [-p PATTERN]] [--existing RULE]
//                      [--threads N] [-q] PATH...  no window
// Arguments are taken from argv as bytes, so a file name that is not UTF-8 comes through as it is.
struct CommandLine
{
    enum class Mode
    {
        Window,
        Convert,
        Help,
        Version,
        UsageError,
    };
    Mode mode = Mode::Window;
    QString text; // the help or version text, or what is wrong with the command line
    // The profile: the rate, where and how the MP3s are written, the cores (--threads, which
    // the window takes too), checked.
    BatchOptions options;
    bool quiet = false;
    bool json = false; // --progress json: one JSON object a line on standard output
    QStringList paths;
};

// Reads `arguments` (the program's name first); relative names are taken against
// `workingFolder`. Needs a QCoreApplication, for the program's name and Qt's texts.
CommandLine ParseCommandLine(const QStringList &arguments, const QString &workingFolder);
// The arguments as the program got them, decoded from bytes.
QStringList DecodedArguments(int argc, char **argv);
// Whether the command line is answered without a window (--convert, --help, --version), so
// needs no display: decided before Qt starts.
bool WithoutWindow(int argc, char **argv);

// Reads the window's command line: --help and --version answer and end the program; a usage
// error ends it with status 2. Returns the line: its paths the files and folders to add
// ("batchmp3 %F" from the desktop entry), its profile the cores each file is encoded on.
CommandLine ReadCommandLine(int argc, char **argv);
