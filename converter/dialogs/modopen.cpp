#include "converter/dialogs/modopen.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

QStringList SelectedFiles;

namespace {

const QString SoundFilter = QStringLiteral("声音 (*.wav)");
const QString DefaultPattern = QStringLiteral("*.wav");

QString nameFilter(const QString &pattern)
{
    if (pattern.isEmpty() || pattern == DefaultPattern)
        return SoundFilter;
    // Qt takes the patterns from the last parenthesised group of the filter.
    QString patterns = pattern;
    patterns.replace(u';', u' ');
    return SoundFilter + QStringLiteral(" (") + patterns + u')';
}

// The deepest folder that holds every file, with a trailing separator only for the root.
QString commonFolder(const QStringList &files)
{
    QString folder = QFileInfo(files.first()).absolutePath();
    for (const QString &file : files) {
        while (!file.startsWith(folder.endsWith(u'/') ? folder : folder + u'/'))
            folder = QFileInfo(folder).absolutePath();
    }
    return folder;
}

} // namespace

QString SelectionAnswer(const QStringList &files)
{
    const QChar nul(u'\0');
    if (files.isEmpty())
        return QString();
    if (files.size() == 1)
        return files.first() + nul;
    const QString folder = commonFolder(files);
    const qsizetype skip = folder.endsWith(u'/') ? folder.size() : folder.size() + 1;
    QString answer = folder + nul;
    for (const QString &file : files)
        answer += file.mid(skip) + nul;
    return answer + nul;
}

QString ShowOpenDialog(QWidget *owner, const QString &title, const QString &pattern,
                       int multiSelect)
{
    QFileDialog dialog(owner, title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(multiSelect == 1 ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilter(nameFilter(pattern));
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    QStringList files;
    for (const QString &file : dialog.selectedFiles())
        files.append(QDir::cleanPath(file));
    return SelectionAnswer(files);
}

int SplitSelection(const QString &answer, QChar separator)
{
    const QStringList parts = answer.split(u'\0');
    const qsizetype last = parts.size() - 1;
    SelectedFiles.clear();
    if (last <= 2) {
        SelectedFiles.append(parts.first());
        return 0;
    }
    const qsizetype highest = last - 3;
    const QString &folder = parts.first();
    const QString prefix = folder.endsWith(separator) ? folder : folder + separator;
    for (qsizetype i = 0; i <= highest; ++i)
        SelectedFiles.append(prefix + parts.at(i + 1));
    return int(highest);
}
