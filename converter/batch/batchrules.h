#pragma once

#include "converter/batch/batchfile.h"
#include "converter/batch/batchoptions.h"
#include "converter/batch/batchoutputs.h"
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
                          const BatchOutputs &written, const QStringList &reserved = {},
                          QStringList *madeFolders = nullptr);
