#pragma once

#include <QString>

namespace rt {
struct FolderProblem;
}

// The user's message for a data folder that cannot be created or written: the folder, and the
// reason in words. Shown by the start-up window and printed by the terminal mode alike.
QString DataFolderMessage(const rt::FolderProblem &problem);
