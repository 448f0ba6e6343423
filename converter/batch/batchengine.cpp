#include "converter/batch/batchengine.h"

#include "converter/batch/albumimages.h"
#include "runtime/comerror.h"
#include "runtime/componenthost.h"
#include "runtime/filename.h"

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
    m_written.clear();
    m_reserved.clear();
    m_tags.clear();
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
        const OutputChoice choice = outputFor(position, true);
        if (!choice.skipped.isEmpty()) {
            m_written.add(choice.standing, BatchOutputs::Claim::Kept); // a later file has no claim
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
    return ChooseOutput(m_files[position], m_options, tags, makeFolders, m_written, m_reserved);
}

const namepattern::Tags &BatchEngine::tagsOf(int position)
{
    if (const auto known = m_tags.constFind(position); known != m_tags.constEnd())
        return *known;
    namepattern::Tags tags;
    const QVariantMap read = m_mp3.tags(m_files[position].input);
    for (auto it = read.begin(); it != read.end(); ++it)
        tags.insert(it.key(), it.value().toString());
    return *m_tags.insert(position, tags);
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
        if (failure.isEmpty() && !m_written.add(placed))
            failure = NotWritten;
        if (failure.isEmpty())
            end(m_position, {FileOutcome::Converted, placed, noticeFor(m_position)});
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
        if (!placed.isEmpty() && m_written.add(placed))
            end(m_position, {FileOutcome::Converted, placed, noticeFor(m_position)});
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
        if (problem.isEmpty())
            return;
    }
    m_report.addProblem(QStringLiteral("专辑增益没有写入（%1）：%2；已转换的%3个文件只写了音轨增益")
                            .arg(album.label, problem)
                            .arg(album.measured));
}

void BatchEngine::finish(bool interrupted, int signalNumber)
{
    // Files encoded ahead that the batch passed over are dropped, not left running.
    stopEncoder();
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
