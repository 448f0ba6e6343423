#pragma once

#include "converter/batch/batchfile.h"
#include "converter/batch/batchoptions.h"
#include "converter/batch/batchreport.h"
#include "converter/batch/batchrules.h"
#include "converter/batch/encodersettings.h"
#include "converter/batch/gainalbums.h"
#include "converter/batch/lookahead.h"
#include "converter/batch/namepattern.h"
#include "converter/batch/recordkeeper.h"
#include "converter/encoder/mp3enc.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

namespace rt {
class ComponentHost;
}

// The batch itself, shared by the window and the terminal: the files in list order, each opened
// and encoded while the ones after it are handed to the encoder ahead, each judged when the
// encoder ends it, the next started until none is left. It holds the profile and is the only
// one that sets the encoder's properties. The window and the terminal show its signals, each in
// its own way. Signals are emitted on the encoder's thread of delivery (the user-interface
// thread), and a view may open a modal window inside one.
class BatchEngine : public QObject
{
    Q_OBJECT
public:
    // Listens to the encoder hosted in `mp3` from now on.
    explicit BatchEngine(rt::ComponentHost *mp3, QObject *parent = nullptr);

    // The profile the batches started from now on follow; what the encoder is to do by it is
    // put at once (each setting on its own: one it refuses is named with its reason, and the
    // others still put).
    QList<SettingFailure> setOptions(const BatchOptions &options);
    const BatchOptions &options() const { return m_options; }
    // Scales a cover larger than `size` down to it (JPEG or PNG in, the same type out): what
    // --cover-size uses. Empty with `why` set when the picture cannot be read. Set by a face
    // that may draw pictures; without one, covers are written as they are.
    using CoverScaler = std::function<QByteArray(const QByteArray &data, int size, QString *why)>;
    void setCoverScaler(CoverScaler scaler) { m_scaleCover = std::move(scaler); }
    // The bit rate in force, as the encoder reads it now.
    qint32 bitRateInForce() const;

    // Begins with the first file of `found` (in the order given; albums in one file become
    // their tracks), its ledger naming what `found` left out and the `problems` already known.
    // A batch in progress must have finished or been stopped.
    void start(const FoundFiles &found, const QStringList &problems = {});
    // A batch cut off by signal `signalNumber` before its first file: every file of `found`
    // is judged as not started, and the batch finishes.
    void cancel(const FoundFiles &found, int signalNumber);
    // Stops the encoder and ends the batch without a word: the window is going. Returns why the
    // encoder could not be stopped, or "".
    QString stop();
    // Stops the encoder and ends the batch, judging every file not yet judged: the one cut off
    // (or converted just before the stop) and those after it.
    void interrupt(int signalNumber = 0);

    // From the start until every view has seen the batch finish (the window's completion
    // message is part of the batch), or until it is stopped.
    bool running() const { return m_running || m_ending; }
    int count() const { return int(m_files.size()); }
    const BatchFile &file(int position) const { return m_files[position]; }
    // Seconds of audio the file at `position` holds (a track, its own share); 0 when its
    // input cannot tell.
    double audioSeconds(int position) const;
    // An input's tags by field, for a name from a pattern; throws when it cannot be read.
    namepattern::Tags readTags(const QString &input) const;
    // The ledger of the batch in progress, or of the last one.
    const BatchReport &report() const { return m_report; }
    // The output the file at `position` is being encoded into, while it is.
    QString outputOf(int position) const { return position == m_position ? m_pending : QString(); }
    // What --existing update's record made of the file at `position` and why; "" under the time
    // rule (read once the file has ended).
    QString decisionOf(int position) { return m_record.decision(position, m_files[position]).why; }

signals:
    // The batch's files are known (albums in one file as their tracks): `count` of them.
    void planned(int count);
    // Before the file at `position` is opened.
    void fileStarting(int position);
    // It is being encoded into `output`.
    void fileStarted(int position, const QString &output);
    void progress(int position, qint32 frame, qint32 frameCount);
    void fileEnded(int position, const FileOutcome &outcome);
    // Every file has been judged: report() tells the whole batch.
    void finished();

private:
    void startFrom(int position);
    bool startFile(int position);
    void onFrame(qint32 frame);
    void onEnded();
    void handlerFailed(const QString &reason);
    void end(int position, const FileOutcome &outcome);
    void finish(bool interrupted, int signalNumber = 0);
    OutputChoice outputFor(int position, bool makeFolders);
    // A file --existing update's record passes over or retags; false when it is to be encoded.
    bool settledByRecord(int position);
    void retag(int position, const UpdateDecision &decision);
    void converted(int position, const QString &placed);
    void pruneOutputs();
    // Beside the MP3s of each album the batch wrote or kept, its cover (--cover-file).
    void writeCovers();
    void writeCover(int position, const QString &folder);
    // The input's tags, read once, for names from a pattern; throws when they cannot be read.
    const namepattern::Tags &tagsOf(int position);
    QString encoderFailure() const;
    // Where the encoder put the file; "" when it left a file standing there, or (with
    // `failure` set) when it cannot say.
    QString encoderOutput(QString *failure) const;
    QString encoderNotice() const;
    QString noticeFor(int position) const;
    void stopEncoder();
    // With album gain: the file joins its album's measure or spoils it, and a complete album's
    // frames are written (or the report says why not).
    void countForAlbum(int position, const FileOutcome &outcome);
    void finishAlbum(const GainAlbums::Complete &album);
    QString measureLeftAsIs(const GainAlbums::Complete &album);
    void onAlbumMeasured(const QString &key, const QString &problem);
    void writeAlbum(const GainAlbums::Complete &album, QString problem);
    // The albums that are complete but for the encoder measuring the MP3s kept as they were.
    void abandonMeasuring(const QString &why);

    Mp3Enc::Binding m_mp3;
    QList<BatchFile> m_files;
    BatchOptions m_options;
    EncoderSettings m_settings;
    LookAhead m_lookAhead;
    BatchOutputs m_written;
    QStringList m_reserved; // outputs given out in this batch, in list order
    QHash<int, namepattern::Tags> m_tags;
    GainAlbums m_albums;
    BatchReport m_report;
    RecordKeeper m_record;
    CoverScaler m_scaleCover;
    QList<std::pair<int, QString>> m_placed; // each file's MP3 the batch wrote or kept
    QSet<QString> m_covers;                  // covers put in place or kept by the batch
    bool m_running = false;                  // files are being judged
    bool m_ending = false;                   // the views are being told that the batch finished
    QHash<QString, GainAlbums::Complete> m_measuring; // albums the encoder is measuring
    bool m_finishWaits = false; // every file is judged: the batch ends when they are measured
    int m_position = -1;
    QString m_pending;  // the output being written, until it is judged
    QString m_upToDate; // the MP3 `--existing update` is leaving as it is, while it is judged
};
