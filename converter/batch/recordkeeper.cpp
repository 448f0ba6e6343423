#include "converter/batch/recordkeeper.h"

#include "converter/files/audioidentity.h"
#include "runtime/filename.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <unistd.h>

namespace {

const UpdateDecision ByTime;

} // namespace

void RecordKeeper::begin(const BatchOptions &options, const QString &encoderVersion)
{
    m_options = options;
    m_decisions.clear();
    m_claimed.clear();
    m_settings = RecordSettings(options.rate.mode, options.rate.bitRate, options.rate.vbrQuality,
                                int(options.replayGain), encoderVersion);
    // Kept by the batches that use it: another rule's output folder gets no file of ours.
    if (options.outputFolder && (options.existing == ExistingRule::Update || options.prune))
        m_record.open(*options.outputFolder);
}

const UpdateDecision &RecordKeeper::decision(int position, const BatchFile &file)
{
    if (!m_record.isOpen() || m_options.existing != ExistingRule::Update)
        return ByTime;
    if (const auto known = m_decisions.constFind(position); known != m_decisions.constEnd())
        return *known;
    return *m_decisions.insert(position,
                               DecideUpdate(m_record, file, m_settings, m_options.pattern));
}

RecordEntry RecordKeeper::entryFor(const BatchFile &file, const QString &relative,
                                   const namepattern::Tags &tags) const
{
    RecordEntry entry;
    entry.path = relative;
    entry.input = file.input;
    entry.first = file.first;
    entry.count = file.count;
    entry.inputState = InputState(file.input);
    entry.audio = AudioIdentity(file.input);
    entry.settings = m_settings;
    entry.pattern = m_options.pattern;
    QJsonObject json;
    for (auto it = tags.cbegin(); it != tags.cend(); ++it)
        json.insert(it.key(), it.value());
    for (auto it = file.tags.cbegin(); it != file.tags.cend(); ++it)
        json.insert(it.key(), it.value());
    entry.tags = QJsonDocument(json).toJson(QJsonDocument::Compact);
    return entry;
}

void RecordKeeper::written(int position, const BatchFile &file, const QString &output,
                           const namepattern::Tags &tags)
{
    const QString relative = m_record.relative(output);
    if (!m_record.isOpen() || relative.isEmpty())
        return;
    m_claimed.insert(relative);
    const auto known = m_decisions.constFind(position);
    if (known != m_decisions.constEnd() && known->kind != UpdateDecision::TimeRule &&
        known->entry.path != relative) {
        // The MP3 under the name the input gave before is this one's older copy (a retag moved
        // it already): it goes, unless changed since it was written.
        const QString old = m_record.folder() + known->entry.path;
        if (!FileState::of(old).exists || (StillAsWritten(m_record, known->entry, true) &&
                                           ::unlink(rt::encodeFileName(old).constData()) == 0))
            m_record.remove(known->entry.path);
    }
    m_record.put(entryFor(file, relative, tags));
}

void RecordKeeper::madeFolders(const QStringList &folders)
{
    for (const QString &folder : folders) {
        if (const QString relative = m_record.relative(folder); !relative.isEmpty())
            m_record.addFolder(relative);
    }
}

void RecordKeeper::rewritten(const QString &output)
{
    const QString relative = m_record.relative(output);
    if (!m_record.isOpen() || relative.isEmpty())
        return;
    std::optional<RecordEntry> entry = m_record.entryAt(relative);
    if (!entry)
        return;
    entry->written = FileState::of(output);
    entry->hash = FileHash(output);
    m_record.put(*entry);
}

void RecordKeeper::claimed(const QString &output)
{
    if (const QString relative = m_record.relative(output); !relative.isEmpty())
        m_claimed.insert(relative);
}

QList<PruneStep> RecordKeeper::prune()
{
    if (!m_record.isOpen() || !m_options.prune)
        return {};
    return Prune(m_record, m_claimed, m_options.dryRun);
}

bool RecordKeeper::coverUpToDate(const QString &path, const QString &source,
                                 const QString &settings) const
{
    const FileState now = InputState(source);
    if (const QString relative = m_record.relative(path);
        m_record.isOpen() && !relative.isEmpty()) {
        if (const auto entry = m_record.entryAt(relative);
            entry && entry->kind == RecordEntry::Cover)
            return StillAsWritten(m_record, *entry, false) && entry->input == source &&
                   entry->inputState.sameData(now) && entry->settings == settings;
    }
    const FileState standing = FileState::of(path);
    return standing.exists && now.exists && standing.modified >= now.modified;
}

void RecordKeeper::coverWritten(const QString &path, const QString &source, const QString &settings)
{
    const QString relative = m_record.relative(path);
    if (!m_record.isOpen() || relative.isEmpty())
        return;
    m_claimed.insert(relative);
    RecordEntry entry;
    entry.path = relative;
    entry.kind = RecordEntry::Cover;
    entry.input = source;
    entry.inputState = InputState(source);
    entry.settings = settings;
    m_record.put(entry);
}
