#pragma once

#include "runtime/export.h"

#include <QString>

namespace rt {

// Why one of the runtime's folders could not be had: the folder and the system error number.
struct FolderProblem
{
    QString folder;
    int errorNumber = 0;
};

// The per-user stand-in for the system folder, below the XDG data home. Created on demand,
// private to the user; "" when no such folder can be had (never falls back to somewhere else),
// with the reason in `problem`.
RT_EXPORT QString systemFolder(FolderProblem *problem = nullptr);
// Where the component registry keeps its entries, beside the system folder.
RT_EXPORT QString registryFolder(FolderProblem *problem = nullptr);
// $XDG_DATA_HOME when it is an absolute path (the XDG rules ignore a relative one), else
// ~/.local/share; "" when there is no home folder at all.
RT_EXPORT QString dataHome();

} // namespace rt
