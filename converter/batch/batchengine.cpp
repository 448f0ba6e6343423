#include "converter/batch/batchengine.h"

#include "converter/batch/albumimages.h"
#include "converter/batch/coverfiles.h"
#include "runtime/comerror.h"
#include "runtime/componenthost.h"
#include "runtime/filename.h"

#include <QFileInfo>
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
        m_mp3.encode();
        m_pending = choice.path;
    } catch (const std::exception &error) {
        end(position, {FileOutcome::NotConverted, {}, rt::reasonOf(error), true});
        return false;
    }
    emit fileStarted(position, m_pending);
    m_lookAhead.after(position, count());
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

void BatchEngine::pruneOutputs()
{
    const bool dry = m_options.dryRun;
    for (const PruneStep &step : m_record.prune()) {
        const QString file = rt::displayFileName(step.path);
        switch (step.kind) {
        case PruneStep::Deleted:
            m_report.addPruned(file,
                               (dry ? QStringLiteral("将删除（") : QStringLiteral("已删除（")) +
                                   step.why + u'）');
            break;
        case PruneStep::Kept:
            m_report.addPruned(file, step.why);
            break;
        case PruneStep::Failed:
            m_report.addProblem(file + QStringLiteral("：") + step.why);
            break;
        }
    }
}

void BatchEngine::writeCovers()
{
    if (m_options.coverFile.isEmpty())
        return;
    // An album is the tracks of one image, else the files of one input folder; it gets one
    // cover in each folder its MP3s went to, from its first file.
    QSet<QString> done;
    for (const auto &[position, mp3] : std::as_const(m_placed)) {
        const BatchFile &file = m_files[position];
        const QString album = file.isTrack() ? file.input : QFileInfo(file.input).path();
        const QString folder = QFileInfo(mp3).path();
        if (const QString key = album + u'\n' + folder; !done.contains(key)) {
            done.insert(key);
            writeCover(position, folder);
        }
    }
}

void BatchEngine::writeCover(int position, const QString &folder)
{
    const BatchFile &file = m_files[position];
    QString source = CoverBeside(QFileInfo(file.input).path());
    QString why;
    QByteArray data;
    if (!source.isEmpty()) {
        data = ReadPicture(source, 16 << 20, &why);
    } else {
        source = file.input;
        try {
            data = m_mp3.frontCover(file.input);
        } catch (const std::exception &error) {
            why = rt::reasonOf(error);
        }
        if (data.isEmpty() && why.isEmpty())
            return; // the album has no cover
    }
    const QString type = PictureType(data);
    if (why.isEmpty() && type.isEmpty())
        why = QStringLiteral("封面不是JPEG或PNG图片");
    const QString target =
        folder + u'/' +
        CoverName(m_options.coverFile, type.isEmpty() ? QStringLiteral("jpg") : type);
    const QString shown = rt::displayFileName(target);
    if (!why.isEmpty()) {
        m_report.addProblem(shown + QStringLiteral("：未写出封面（") + rt::displayFileName(source) +
                            QStringLiteral("：") + why + u'）');
        return;
    }
    if (m_covers.contains(target))
        return; // another album's cover is there already
    m_covers.insert(target);
    const QString settings =
        QStringLiteral("cover %1 %2").arg(m_options.coverFile).arg(m_options.coverSize);
    const bool standing = QFileInfo::exists(target);
    const bool keep = standing && (m_options.existing == ExistingRule::Skip ||
                                   m_options.existing == ExistingRule::Rename ||
                                   (m_options.existing == ExistingRule::Update &&
                                    m_record.coverUpToDate(target, source, settings)));
    if (keep) {
        m_record.claimed(target);
        return;
    }
    if (m_options.coverSize > 0 && m_scaleCover) {
        data = m_scaleCover(data, m_options.coverSize, &why);
        if (data.isEmpty()) {
            m_report.addProblem(shown + QStringLiteral("：未写出封面（") + why + u'）');
            return;
        }
    }
    if (const QString failure = WriteCover(target, data); !failure.isEmpty()) {
        m_record.claimed(target); // what stands there is not ours to prune
        m_report.addProblem(shown + QStringLiteral("：") + failure);
        return;
    }
    m_record.coverWritten(target, source, settings);
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

void BatchEngine::countForAlbum(int position, const FileOutcome &outcome)
{
    switch (outcome.kind) {
    case FileOutcome::Converted:
        try {
            if (m_mp3.addToAlbum(m_albums.albumOf(position)))
                m_albums.joined(position);
            else
                m_albums.missed(position, QStringLiteral("有文件无法测得响度"));
        } catch (const std::exception &error) {
            m_albums.missed(position, rt::reasonOf(error));
        }
        break;
    case FileOutcome::Skipped:
        if (m_upToDate.isEmpty())
            m_albums.missed(position, QStringLiteral("有文件没有转换，保留了原有的MP3"));
        else
            m_albums.leftAsIs(position, m_upToDate);
        break;
    case FileOutcome::NotConverted:
        m_albums.missed(position, QStringLiteral("有文件没有转换"));
        break;
    case FileOutcome::Interrupted:
    case FileOutcome::NotStarted:
        m_albums.missed(position, QStringLiteral("转换被中断，专辑没有转换完"));
        break;
    }
    if (const std::optional<GainAlbums::Complete> album = m_albums.completed(position))
        finishAlbum(*album);
}

// Nothing of an album converted: nothing to write, nor to say beyond its files' outcomes.
void BatchEngine::finishAlbum(const GainAlbums::Complete &album)
{
    if (album.measured == 0)
        return; // nothing of it was added to the encoder's measures
    QString problem = album.problem.isEmpty() ? measureLeftAsIs(album) : album.problem;
    if (!problem.isEmpty()) {
        try {
            m_mp3.forgetAlbum(album.key);
        } catch (const std::exception &error) {
            m_report.addProblem(rt::reasonOf(error));
        }
    }
    if (problem.isEmpty()) {
        try {
            problem = m_mp3.writeAlbumGain(album.key).replace(u'\n', QStringLiteral("；"));
        } catch (const std::exception &error) {
            problem = rt::reasonOf(error);
        }
        if (problem.isEmpty()) {
            for (const auto &[position, mp3] : std::as_const(m_placed))
                if (m_albums.albumOf(position) == album.key)
                    m_record.rewritten(mp3);
            return;
        }
    }
    m_report.addProblem(QStringLiteral("专辑增益没有写入（%1）：%2；已转换的%3个文件只写了音轨增益")
                            .arg(album.label, problem)
                            .arg(album.measured));
}

void BatchEngine::finish(bool interrupted, int signalNumber)
{
    // Files encoded ahead that the batch passed over are dropped, not left running.
    stopEncoder();
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

// The tracks `--existing update` left as they were: measured from their inputs, not encoded, so
// the album's gain is that of the album as it now stands. Why one could not be, or "".
QString BatchEngine::measureLeftAsIs(const GainAlbums::Complete &album)
{
    for (const auto &[position, mp3] : album.leftAsIs) {
        const BatchFile &file = m_files[position];
        try {
            if (!m_mp3.measureForAlbum(album.key, file.input, mp3, file.first, file.count))
                return QStringLiteral("有文件无法测得响度");
        } catch (const std::exception &error) {
            return QStringLiteral("无法测量没有重新转换的%1：%2")
                .arg(file.label(), rt::reasonOf(error));
        }
    }
    return {};
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
