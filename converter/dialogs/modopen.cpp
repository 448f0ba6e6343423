#include "converter/dialogs/modopen.h"

#include "converter/dialogs/dialogdetails.h"
#include "converter/files/audionames.h"
#include "runtime/filename.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

QStringList SelectedFiles;

namespace {

const QString SoundFilter = QStringLiteral("声音 (*.wav)");
// Offered after the WAV filter: every kind the encoder reads.
const QString AllAudioLabel = QStringLiteral("所有支持的音频文件");
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

// Every name the user typed or selected, in that order. Qt's own dialog drops typed names its
// filter hides whenever a visible file is selected too; the system's dialog keeps them all.
class OpenFileDialog final : public QFileDialog
{
public:
    using QFileDialog::QFileDialog;

    QStringList chosenFiles() const { return m_chosen; }

    void accept() override
    {
        const auto *edit = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        const QStringList names = TypedFileNames(edit ? edit->text() : QString());
        QStringList files;
        for (const QString &name : names) {
            // A name that is not UTF-8 comes with U+FFFD for its bad bytes (pasted as a file
            // manager shows it): mapped back to the file before it is looked at.
            const QString path = rt::recoverFileName(QDir::cleanPath(resolve(name)));
            const rt::FileKind kind = rt::fileKind(path);
            if (kind == rt::FileKind::Folder) { // a folder typed to open it: Qt's dialog goes there
                QFileDialog::accept();
                m_chosen = selectedFiles();
                return;
            }
            if (kind == rt::FileKind::Missing) {
                QMessageBox::warning(this, windowTitle(),
                                     QCoreApplication::translate(
                                         "QFileDialog", "%1\nFile not found.\nPlease verify the "
                                                        "correct file name was given.")
                                         .arg(rt::displayFileName(QFileInfo(path).fileName())));
                return;
            }
            files.append(path);
        }
        if (files.isEmpty()) {
            QFileDialog::accept();
            m_chosen = selectedFiles();
            return;
        }
        m_chosen = files;
        QDialog::accept();
    }

private:
    // Selecting a row puts only its name in the box, and the row may be in another folder
    // than the one shown (a typed path selects it there): such a name is that row's file.
    QString resolve(const QString &name) const
    {
        if (name.startsWith(QStringLiteral("~/")))
            return QDir::home().absoluteFilePath(name.mid(2));
        if (QDir::isAbsolutePath(name))
            return name;
        for (const QString &path : selectedFiles()) {
            if (QFileInfo(path).fileName() == name)
                return path;
        }
        return QDir(directory()).absoluteFilePath(name);
    }

    QStringList m_chosen;
};

} // namespace

QStringList TypedFileNames(const QString &text)
{
    // Several names stand in double quotes: "a.wav" "b.wav".
    if (!text.contains(u'"')) {
        const QString name = text.trimmed();
        return name.isEmpty() ? QStringList() : QStringList{name};
    }
    QStringList names;
    const QStringList parts = text.split(u'"');
    for (qsizetype i = 1; i < parts.size(); i += 2) {
        if (!parts.at(i).isEmpty())
            names.append(parts.at(i));
    }
    return names;
}

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
    OpenFileDialog dialog(owner, title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(multiSelect == 1 ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilters(
        {nameFilter(pattern), AllAudioLabel + QStringLiteral(" (") + AudioNamePatterns() + u')'});
    ShowDetailsInChinese(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    QStringList files;
    for (const QString &file : dialog.chosenFiles())
        files.append(rt::recoverFileName(QDir::cleanPath(file)));
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
