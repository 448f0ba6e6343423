#pragma once

#include <QList>
#include <QString>

class QObject;

namespace rt {
class HiddenProcess;
struct FolderProblem;
} // namespace rt

// How long a start waits, at most, for the registrations still running.
inline constexpr int RegistrationWaitMs = 15000;

// Writes the two component libraries the program carries (payloads 102 and 103) into the system
// folder `folder`, which ends in the separator, and starts the registration tool on each without
// waiting. Returns the registrations that started, owned by `parent`.
QList<rt::HiddenProcess *> InstallComponents(const QString &folder, QObject *parent);

// The system folder the components are written to, ending in the separator; "" when it or the
// registry beside it cannot be had, with the reason in `problem`.
QString ComponentFolder(rt::FolderProblem *problem);
