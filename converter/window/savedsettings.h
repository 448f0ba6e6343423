#pragma once

#include "converter/batch/batchoptions.h"

#include <QString>
#include <optional>

// The settings window's choices kept for the next start, only when the user asks for it: the
// quality, the naming rule, the existing-file rule and the ReplayGain tags (not the output
// folder or the cores, which the main window and the command line give).
namespace savedsettings {

// Where they are kept: "batchmp3/settings.ini" below the user's XDG configuration folder.
QString FilePath();

struct Loaded
{
    std::optional<BatchOptions> options; // none when nothing is kept
    QString problem;                     // why what is kept cannot be used; "" when it can
};

// `base` with what is kept at `path`, checked as the terminal's options are.
Loaded Load(const QString &path, const BatchOptions &base);
// Keeps the profile's choices at `path`; returns why they cannot be kept, or "".
QString Save(const QString &path, const BatchOptions &options);
// Keeps nothing any more; returns why the kept file cannot be removed, or "".
QString Forget(const QString &path);

} // namespace savedsettings
