#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The folder below the chosen output folder where a file found in a subfolder of a dropped
// folder goes (OUT + "CD1/" for Music/CD1/01.flac), created where missing. Each part is made
// and entered inside the one before it without following a link, so nothing is created or
// written outside `base`; a part that is "", "." or ".." or names a link or a file refuses the
// whole. Returns the folder with a trailing separator, or nothing. With `make` false nothing is
// created: a missing part refuses as well. The folders it made are added to `made`, if given.
std::optional<QString> MakeOutputSubfolder(const QString &base, const QString &relative,
                                           bool make = true, QStringList *made = nullptr);
