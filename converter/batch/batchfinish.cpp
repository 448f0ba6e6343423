// What the engine does once files end, beyond their own outcomes: an album's gain once its
// tracks are in, and after the batch the cover files and the pruning of the output folder.
#include "converter/batch/batchengine.h"
#include "converter/batch/coverfiles.h"
#include "runtime/comerror.h"
#include "runtime/filename.h"

#include <QFileInfo>
#include <exception>
#include <utility>

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
    QString problem = album.problem;
    if (problem.isEmpty() && !album.leftAsIs.isEmpty()) {
        problem = measureLeftAsIs(album);
        if (problem.isEmpty()) {
            m_measuring.insert(album.key, album); // written when the encoder has measured them
            return;
        }
    }
    writeAlbum(album, problem);
}

void BatchEngine::onAlbumMeasured(const QString &key, const QString &problem)
{
    const auto it = m_measuring.constFind(key);
    if (it == m_measuring.cend())
        return; // of a batch stopped since
    const GainAlbums::Complete album = it.value();
    m_measuring.erase(it);
    writeAlbum(album,
               problem.isEmpty() ? QString() : QStringLiteral("无法测量没有重新转换的") + problem);
    if (m_measuring.isEmpty() && std::exchange(m_finishWaits, false))
        finish(false);
}

// The album's frames into its MP3s, or (`problem` set, or the writing failing) why not.
void BatchEngine::writeAlbum(const GainAlbums::Complete &album, QString problem)
{
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

// The tracks `--existing update` left as they were: handed to the encoder to be measured from
// their inputs, not encoded, so the album's gain is that of the album as it now stands. Why one
// could not be handed over, or "".
QString BatchEngine::measureLeftAsIs(const GainAlbums::Complete &album)
{
    for (const auto &[position, mp3] : album.leftAsIs) {
        const BatchFile &file = m_files[position];
        try {
            m_mp3.measureForAlbum(album.key, file.input, mp3, file.first, file.count);
        } catch (const std::exception &error) {
            return QStringLiteral("无法测量没有重新转换的%1：%2")
                .arg(file.label(), rt::reasonOf(error));
        }
    }
    return {};
}
