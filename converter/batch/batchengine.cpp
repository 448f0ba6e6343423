#include "converter/batch/batchengine.h"

#include "converter/batch/albumimages.h"
#include "runtime/comerror.h"
#include "runtime/componenthost.h"
#include "runtime/filename.h"

#include <cstdio>
#include <exception>
#include <utility>

namespace {

// The encoder ended well, yet no MP3 stands under the output's name.
const QString NotWritten = QStringLiteral("未能写出MP3文件");

QVariantMap tagMap(const QMap<QString, QString> &tags)
{
    QVariantMap map;
    for (auto it = tags.cbegin(); it != tags.cend(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

} // namespace

BatchEngine::BatchEngine(rt::ComponentHost *mp3, QObject *parent)
    : QObject(parent), m_mp3(mp3),
      m_lookAhead(
          [this](int position) -> LookAhead::Pair {
              // A file the batch will not convert (refused, or skipped) is never encoded ahead.
              try {
                  if (!m_files[position].refusal.isEmpty())
                      return std::nullopt;
                  const UpdateDecision::Kind byRecord =
                      m_record.decision(position, m_files[position]).kind;
                  if (byRecord == UpdateDecision::Retag || byRecord == UpdateDecision::UpToDate)
                      return std::nullopt;
                  const OutputChoice choice = outputFor(position, false);
                  if (choice.path.isEmpty())
                      return std::nullopt;
                  return std::pair{position, choice.path};
              } catch (const rt::ComError &) {
                  return std::nullopt; // refused at its turn, and named with the reason then
              }
          },
          [this](int position, const QString &output) {
              const BatchFile &file = m_files[position];
              if (file.isTrack())
                  m_mp3.prefetchPart(file.input, output, file.first, file.count, tagMap(file.tags));
              else
                  m_mp3.prefetch(file.input, output);
          })
{
    qRegisterMetaType<FileOutcome>();
    // Events come from the event loop: nothing may escape into it, and the batch goes on.
    const auto guarded = [this](auto handler) {
        return [this, handler](QVariantList &args) {
            try {
                handler(args);
            } catch (const std::exception &error) {
                handlerFailed(rt::reasonOf(error));
            }
        };
    };
    mp3->onEvent(Mp3Enc::ActFrame,
                 guarded([this](QVariantList &args) { onFrame(args.value(0).toInt()); }));
    mp3->onEvent(Mp3Enc::ThreadEnded, guarded([this](QVariantList &) { onEnded(); }));
    mp3->onEvent(Mp3Enc::AlbumMeasured, guarded([this](QVariantList &args) {
                     onAlbumMeasured(args.value(0).toString(), args.value(1).toString());
                 }));
}

QList<SettingFailure> BatchEngine::setOptions(const BatchOptions &options)
{
    m_options = options;
    return m_settings.apply(m_mp3, m_options);
}

qint32 BatchEngine::bitRateInForce() const
{
    return m_mp3.bitRate();
}

void BatchEngine::start(const FoundFiles &found, const QStringList &problems)
{
    // Albums in one file become their tracks; broken ones are refused when their turn comes.
    m_files = ExpandAlbums(BatchFilesOf(found), m_mp3);
    m_report.begin(found.leftOut(), problems);
    QString encoderVersion;
    try {
        encoderVersion = m_mp3.encoderVersion();
    } catch (const std::exception &error) {
        // Recorded without it, so the next batch that knows it encodes these files again.
        m_report.addProblem(QStringLiteral("无法得知编码器的版本：") + rt::reasonOf(error));
    }
    m_record.begin(m_options, encoderVersion);
    m_written.clear();
    m_reserved.clear();
    m_tags.clear();
    m_placed.clear();
    m_covers.clear();
    m_pending.clear();
    m_measuring.clear();
    m_finishWaits = false;
    m_albums.clear();
    if (m_options.replayGain == ReplayGainTags::Album)
        m_albums.plan(m_files, [this](int position) { return tagsOf(position); });
    m_position = -1;
    m_running = true;
    emit planned(count());
    startFrom(0);
}

QString BatchEngine::stop()
{
    m_running = false;
    m_ending = false;
    m_pending.clear();
    m_measuring.clear();
    m_finishWaits = false;
    try {
        m_mp3.stop();
    } catch (const std::exception &error) {
        return rt::reasonOf(error);
    }
    return {};
}

// A file that cannot be started is judged and the next one tried, until one starts or none is
// left; a view may have stopped the batch meanwhile.
void BatchEngine::startFrom(int position)
{
    for (int k = position; k < count(); ++k) {
        if (!m_running || startFile(k))
            return;
    }
    if (m_running)
        finish(false);
}

bool BatchEngine::startFile(int position)
{
    m_position = position;
    emit fileStarting(position);
    if (!m_running)
        return true;
    const BatchFile &file = m_files[position];
    try {
        if (!file.refusal.isEmpty())
            throw BatchRefusal(rt::ErrInvalidCall, file.refusal);
        if (settledByRecord(position))
            return false;
        const OutputChoice choice = outputFor(position, true);
        if (!choice.skipped.isEmpty()) {
            m_written.add(choice.standing, BatchOutputs::Claim::Kept); // a later file has no claim
            m_record.claimed(choice.standing);
            m_placed.append({position, choice.standing});
            if (m_options.existing == ExistingRule::Update)
                m_upToDate = choice.standing;
            end(position, {FileOutcome::Skipped, {}, choice.skipped});
            m_upToDate.clear();
            return false;
        }
        if (choice.path.isEmpty())
            throw BatchRefusal(choice.error, choice.refusal);
        m_reserved.append(choice.path);
        if (file.isTrack())
            m_mp3.openPart(file.input, choice.path, file.first, file.count, tagMap(file.tags));
        else
            m_mp3.open(file.input, choice.path);
        // Until the files after it are handed over, they are taken to keep the cores busy.
        m_mp3.setFilesToCome(count() - position - 1);
        m_mp3.encode();
        m_pending = choice.path;
    } catch (const std::exception &error) {
        end(position, {FileOutcome::NotConverted, {}, rt::reasonOf(error), true});
        return false;
    }
    emit fileStarted(position, m_pending);
    const int toCome = m_lookAhead.after(position, count());
    try {
        m_mp3.setFilesToCome(toCome);
    } catch (const std::exception &error) { // files are then cut as if none came after
        std::fprintf(stderr, "batchmp3: %s\n", rt::reasonOf(error).toUtf8().constData());
    }
    return true;
}

OutputChoice BatchEngine::outputFor(int position, bool makeFolders)
{
    const namepattern::Tags *tags = m_options.pattern.isEmpty() ? nullptr : &tagsOf(position);
    // What the record says is out of date replaces the MP3, whatever its time says.
    BatchOptions options = m_options;
    if (m_record.decision(position, m_files[position]).kind != UpdateDecision::TimeRule)
        options.existing = ExistingRule::Overwrite;
    QStringList made;
    const OutputChoice choice =
        ChooseOutput(m_files[position], options, tags, makeFolders, m_written, m_reserved, &made);
    m_record.madeFolders(made);
    return choice;
}

bool BatchEngine::settledByRecord(int position)
{
    const UpdateDecision &decision = m_record.decision(position, m_files[position]);
    if (decision.kind == UpdateDecision::Retag) {
        retag(position, decision);
        return true;
    }
    if (decision.kind != UpdateDecision::UpToDate)
        return false;
    const QString standing = m_options.outputFolder.value_or(QString()) + decision.entry.path;
    m_written.add(standing, BatchOutputs::Claim::Kept);
    m_record.claimed(standing);
    m_placed.append({position, standing});
    end(position, {FileOutcome::Skipped, {}, decision.why});
    return true;
}

// Only the tags changed: the MP3 gets them, under the name they now give, without an encode.
void BatchEngine::retag(int position, const UpdateDecision &decision)
{
    const BatchFile &file = m_files[position];
    try {
        const OutputChoice choice = outputFor(position, true);
        if (choice.path.isEmpty())
            throw BatchRefusal(choice.error, choice.refusal);
        const QString failure = m_mp3.retag(
            file.input, m_options.outputFolder.value_or(QString()) + decision.entry.path,
            choice.path, tagMap(file.tags));
        if (!failure.isEmpty())
            throw BatchRefusal(rt::ErrPathFileAccess, failure);
        m_reserved.append(choice.path);
        converted(position, choice.path);
    } catch (const std::exception &error) {
        end(position, {FileOutcome::NotConverted, {}, rt::reasonOf(error), true});
    }
}

// `placed` was put in place from the file at `position`: recorded, and told.
void BatchEngine::converted(int position, const QString &placed)
{
    m_written.add(placed);
    m_placed.append({position, placed});
    namepattern::Tags tags;
    try {
        tags = tagsOf(position);
    } catch (const std::exception &error) {
        // Recorded without them: the next update compares its sound, and rewrites the tags.
        m_report.addProblem(QStringLiteral("无法读取标签：") + rt::reasonOf(error));
    }
    m_record.written(position, m_files[position], placed, tags);
    if (const QString &why = m_record.decision(position, m_files[position]).why; !why.isEmpty())
        m_report.addUpdated(m_files[position].label(), why);
    end(position, {FileOutcome::Converted, placed, noticeFor(position)});
}

const namepattern::Tags &BatchEngine::tagsOf(int position)
{
    if (const auto known = m_tags.constFind(position); known != m_tags.constEnd())
        return *known;
    return *m_tags.insert(position, readTags(m_files[position].input));
}

namepattern::Tags BatchEngine::readTags(const QString &input) const
{
    namepattern::Tags tags;
    const QVariantMap read = m_mp3.tags(input);
    for (auto it = read.begin(); it != read.end(); ++it)
        tags.insert(it.key(), it.value().toString());
    return tags;
}

double BatchEngine::audioSeconds(int position) const
{
    const BatchFile &batchFile = m_files[position];
    try {
        const auto [rate, frames] = m_mp3.audioLength(batchFile.input);
        const qint64 count = batchFile.isTrack() ? batchFile.count : frames;
        return rate > 0 && count > 0 ? double(count) / rate : 0.0;
    } catch (const std::exception &) {
        // The file is judged, and its reason told, when its turn comes; until then it weighs
        // nothing in the batch's progress.
        return 0.0;
    }
}

void BatchEngine::onFrame(qint32 frame)
{
    if (!m_running || m_pending.isEmpty())
        return;
    qint32 frameCount = 0;
    try {
        frameCount = m_mp3.frameCount();
    } catch (const std::exception &error) {
        const QString problem = QStringLiteral("无法读取进度：") + rt::reasonOf(error);
        m_report.addProblem(problem); // the progress shows 0 % meanwhile
    }
    emit progress(m_position, frame, frameCount);
}

void BatchEngine::onEnded()
{
    // A stopped encoder may still report its end.
    if (!m_running || m_pending.isEmpty())
        return;
    const QString output = std::exchange(m_pending, {});
    QString failure = encoderFailure();
    const QString placed = failure.isEmpty() ? encoderOutput(&failure) : QString();
    if (failure.isEmpty() && placed.isEmpty()) {
        // By the time it was put in place a file stood under its name, which the rule left.
        m_written.add(output, BatchOutputs::Claim::Kept);
        end(m_position, {FileOutcome::Skipped, {}, KeptMeanwhile(m_options.existing)});
    } else {
        if (failure.isEmpty() && !FileStat::of(placed).exists)
            failure = NotWritten;
        if (failure.isEmpty())
            converted(m_position, placed);
        else
            end(m_position, {FileOutcome::NotConverted, output, failure});
    }
    startFrom(m_position + 1);
}

QString BatchEngine::encoderFailure() const
{
    try {
        return m_mp3.lastError();
    } catch (const std::exception &error) {
        return rt::reasonOf(error);
    }
}

// What is told with a converted file: its own note (why its sheet was not used), and what the
// encoder left out of it.
QString BatchEngine::noticeFor(int position) const
{
    QStringList said{m_files[position].note, encoderNotice()};
    said.removeAll(QString());
    return said.join(QStringLiteral("；"));
}

QString BatchEngine::encoderOutput(QString *failure) const
{
    try {
        return m_mp3.lastOutput();
    } catch (const std::exception &error) {
        *failure = QStringLiteral("无法得知MP3写在了哪里：") + rt::reasonOf(error);
        return {};
    }
}

QString BatchEngine::encoderNotice() const
{
    try {
        return m_mp3.lastNotice();
    } catch (const std::exception &error) {
        return QStringLiteral("无法得知有无内容没有放进MP3：") + rt::reasonOf(error);
    }
}

// A handler threw: the file in hand is judged with the reason and the batch goes on with the
// next; should that fail too, the batch ends and says so.
void BatchEngine::handlerFailed(const QString &reason)
{
    if (!m_running)
        return;
    try {
        if (!std::exchange(m_pending, {}).isEmpty()) {
            stopEncoder();
            end(m_position, {FileOutcome::NotConverted, {}, reason});
        } else {
            m_report.addProblem(reason);
        }
        startFrom(m_position + 1);
    } catch (const std::exception &error) {
        m_report.addProblem(QStringLiteral("转换无法继续：") + rt::reasonOf(error));
        finish(false);
    }
}

void BatchEngine::cancel(const FoundFiles &found, int signalNumber)
{
    m_files = BatchFilesOf(found);
    m_albums.clear();
    m_report.begin(found.leftOut());
    m_running = true;
    for (int k = 0; k < count(); ++k)
        end(k, {FileOutcome::NotStarted, {}, {}});
    finish(true, signalNumber);
}

void BatchEngine::interrupt(int signalNumber)
{
    if (!m_running)
        return;
    stopEncoder();
    const int next = m_position + 1;
    // The file may have been completed, and put in place, just before the stop: the encoder
    // knows where from the moment it did so.
    if (!std::exchange(m_pending, {}).isEmpty()) {
        QString failure = encoderFailure();
        const QString placed = failure.isEmpty() ? encoderOutput(&failure) : QString();
        if (!placed.isEmpty() && FileStat::of(placed).exists)
            converted(m_position, placed);
        else
            end(m_position, {FileOutcome::Interrupted, {}, {}});
    }
    for (int k = std::max(next, 0); k < count(); ++k)
        end(k, {FileOutcome::NotStarted, {}, {}});
    finish(true, signalNumber);
}

void BatchEngine::end(int position, const FileOutcome &outcome)
{
    m_report.record(m_files[position].label(), outcome);
    if (m_options.replayGain == ReplayGainTags::Album && !m_albums.albumOf(position).isEmpty())
        countForAlbum(position, outcome);
    emit fileEnded(position, outcome);
}

void BatchEngine::finish(bool interrupted, int signalNumber)
{
    if (!interrupted && !m_measuring.isEmpty()) {
        m_finishWaits = true; // the window stays responsive, and Stop still stops
        return;
    }
    // Files encoded ahead that the batch passed over are dropped, not left running.
    stopEncoder();
    abandonMeasuring(QStringLiteral("转换被中断，专辑没有转换完"));
    if (!interrupted) {
        writeCovers();
        pruneOutputs();
    }
    m_running = false;
    m_ending = true;
    m_report.end(interrupted, signalNumber);
    emit finished();
    m_ending = false;
}

void BatchEngine::abandonMeasuring(const QString &why)
{
    m_finishWaits = false;
    for (const GainAlbums::Complete &album : std::exchange(m_measuring, {}))
        writeAlbum(album, why);
}

void BatchEngine::stopEncoder()
{
    try {
        m_mp3.stop();
    } catch (const std::exception &error) {
        const QString problem = QStringLiteral("未能停止编码器：") + rt::reasonOf(error);
        m_report.addProblem(problem);
    }
}
