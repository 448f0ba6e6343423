#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QVector>
#include <memory>

namespace testsupport {

// Points XDG_DATA_HOME at a fresh temporary folder for the life of the object, so the
// registry and the system folder of a test never touch the user's own.
class IsolatedDataHome
{
public:
    IsolatedDataHome();
    ~IsolatedDataHome();
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious;
};

// The folder the built programs and component libraries are in.
QString binDir();
// Registers a built component library ("ZTbutton.ocx", "Mp3Enc.ocx") from binDir() in the
// current registry; fails the calling test (QFAIL-style, returns false) when it cannot.
bool registerBuiltComponent(const QString &fileName);

// Frames of audio in an MP3 as a gapless decoder (mpg123) gives them back; -1 when it cannot be
// decoded. `scratch` is a folder for the decoded file.
qint64 decodedFrames(const QString &mp3, const QString &scratch);

// Writes a WAV file of `frames` frames with a deterministic music-like signal.
// `format` is a libsndfile SF_FORMAT_* subtype ORed with the major type (default 16-bit WAV).
bool writeWav(const QString &path, int frames, int channels = 2, int sampleRate = 44100,
              int format = 0);

// Creates an empty file at `path`, given as bytes (any name, UTF-8 or not).
bool touchBytes(const QByteArray &path);
// Removes `folder` and everything in it by their bytes: Qt's own removal cannot name files
// whose names are not UTF-8.
void removeTree(const QString &folder);

} // namespace testsupport
