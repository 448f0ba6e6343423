#pragma once

#include "runtime/control.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QThread>
#include <functional>
#include <memory>

// A host for one encoder instance, created through the registry as the converter creates it.
// Records every event with the thread it arrived on.
class RecordingSite final : public rt::ControlSite
{
public:
    struct Event
    {
        rt::DispId id;
        QVariantList args;
        bool onCreatingThread;
    };

    QString displayName() const override { return QStringLiteral("Mp3"); }
    bool userMode() const override { return true; }
    void propertyChanged(const QString &) override {}
    void fireEvent(rt::DispId id, QVariantList &args) override;

    int count(rt::DispId id) const;
    bool ended() const { return count(ThreadEnded) > 0; }

    enum : rt::DispId
    {
        ActFrame = 1,
        ThreadEnded = 2,
        Failure = 3,
        AlbumMeasured = 4
    };

    QList<Event> events;
    std::function<void(rt::DispId)> onEvent;

private:
    QThread *m_thread = QThread::currentThread();
};

struct EncoderFixture
{
    EncoderFixture();
    bool ok() const { return control != nullptr; }
    // Open + Encode, then wait for ThreadEnded; false when it does not come in time.
    bool convert(const QString &input, const QString &output, int timeoutMs = 60000);

    testsupport::IsolatedDataHome home;
    RecordingSite site;
    std::unique_ptr<rt::Control> control;
};

QByteArray fileDigest(const QString &path);
// Names in `folder`, hidden ones included, sorted.
QStringList folderEntries(const QString &folder);
// Runs a command; true when it exits with status 0.
bool runTool(const QString &program, const QStringList &args);

struct Decoded
{
    qint64 frames = -1;
    int channels = 0;
    int sampleRate = 0;
};
// Decodes an MP3 with mpg123 (gapless, using the info tag) and describes the result.
Decoded decode(const QString &mp3, const QString &scratchFolder);

// A WAV header whose data chunk claims `declared` bytes, the file then made `dataBytes` long
// after the header without writing them (a sparse file): large inputs in no time and no space.
struct SparseWav
{
    int channels = 2;
    int bitsPerSample = 16;
    int format = 1; // 1 PCM, 3 IEEE float
    quint32 declared = 0;
    qint64 dataBytes = 0;
    QByteArray trailer; // written right after the declared data, for chunks that follow it
    QByteArray before;  // whole chunks between the format and the data chunk

    bool write(const QString &path) const;
    qint64 frames() const { return dataBytes / (channels * bitsPerSample / 8); }
};
