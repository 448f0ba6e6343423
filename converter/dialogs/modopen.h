#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The open-file dialog and the splitting of its answer into full paths.

// The chosen files as full paths, from index 0; each SplitSelection replaces it completely.
extern QStringList SelectedFiles;

// Shows the open-file dialog ("声音 (*.wav)" with `pattern`, then a filter for every kind the
// encoder reads) titled `title`, several files at once when `multiSelect` is 1. Returns the raw
// answer: for one file its full path and a NUL; for several the folder, then each name, each
// followed by a NUL, and one more NUL. "" when the user cancels. There is no length limit: any
// number of files comes back, names unaltered.
QString ShowOpenDialog(QWidget *owner, const QString &title, const QString &pattern,
                       int multiSelect);

// Splits a raw answer into SelectedFiles and returns the highest index filled (0 for one file).
// A folder that already ends with the separator (the root) gets none added.
int SplitSelection(const QString &answer, QChar separator = u'/');

// The raw answer for a set of chosen files (what ShowOpenDialog returns on success).
QString SelectionAnswer(const QStringList &files);

// The names in an open-file dialog's name box: one name, or several each in double quotes.
QStringList TypedFileNames(const QString &text);
