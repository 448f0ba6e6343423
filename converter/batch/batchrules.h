#pragma once

#include "converter/batch/batchfile.h"
#include "converter/batch/batchoptions.h"
#include "runtime/comerror.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

// The batch's decisions, shared by the window and by the terminal's --convert: where a file's
// MP3 goes, and which outputs the batch has already written.

// A file the batch passes over by its own rules (not the encoder's); the description says why,
// in the words a user reads.
class BatchRefusal : public rt::ComError
{
public:
    using rt::ComError::ComError;
};

// The outputs earlier files of a batch have claimed: written, or left standing by the rule for an
// MP3 already there. A later file with the same output is refused, not allowed to replace the
// earlier one's. Recognised by what only this batch knows of them, the file as it stood when it
// was claimed (device, inode and change time), so another spelling or a case-insensitive file
// system is caught, while a file another program has since put under that name (which may reuse
// the inode number) is not ours.
class BatchOutputs
{
public:
    enum class Claim
    {
        Written, // by an earlier file of the batch
        Kept,    // the MP3 an earlier file gave, left as it was by the rule
    };
    void clear() { m_files.clear(); }
    // Records `output` if it is there; false when it is not.
    bool add(const QString &output, Claim claim = Claim::Written);
    bool contains(const QString &output) const { return claimOf(output).has_value(); }
    std::optional<Claim> claimOf(const QString &output) const;

private:
    struct WrittenFile
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 changedSeconds = 0;
        qint64 changedNanoseconds = 0;
        bool operator==(const WrittenFile &) const = default;
    };
    static std::optional<WrittenFile> identityOf(const QString &path);
    QList<std::pair<WrittenFile, Claim>> m_files;
};

// Where the batch writes a file's MP3, or why it does not.
struct OutputChoice
{
    QString path;     // empty when refused, skipped or not yet possible
    int error = 0;    // with `refusal`
    QString refusal;  // not converted, and why
    QString skipped;  // left as it is by the existing-file rule, and why
    QString standing; // when skipped: the MP3 left as it is
};

// Why a file converted was not put in place: by then a file stood under its name (another
// program's), which `rule` left as it was.
QString KeptMeanwhile(ExistingRule rule);

// The MP3 name in `options.outputFolder` (ending in the separator), below it in `file.subfolder`,
// or beside the input when there is no output folder; with a pattern, the path the input's `tags`
// give below the output folder. With `makeFolders` false nothing is created, and no path is
// chosen while a folder is not there yet. A name that cannot have an output, a folder that cannot
// be made and an output this batch wrote are refused; `reserved` are names this batch has given
// out, which renaming passes by. A name an earlier file of the batch claimed is refused under
// every rule but renaming; a folder under the name, under every rule but renaming.
OutputChoice ChooseOutput(const BatchFile &file, const BatchOptions &options,
                          const QMap<QString, QString> *tags, bool makeFolders,
                          const BatchOutputs &written, const QStringList &reserved = {});
