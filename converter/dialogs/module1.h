#pragma once

#include <QString>

class QWidget;

// Shows the folder browser titled `title` over `owner`; only existing folders can be confirmed.
// Returns the chosen folder without a trailing separator (the root keeps its "/"), or "" when
// the user cancels.
QString BrowseForFolder(QWidget *owner, const QString &title);
