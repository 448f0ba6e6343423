#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>

// The MP3 being written: a temporary beside the final name, renamed over it only when complete,
// so an unfinished encode never leaves a partial file or harms one that already exists.
class TempOutput
{
public:
    TempOutput() = default;
    ~TempOutput(); // removes the temporary unless committed
    TempOutput(const TempOutput &) = delete;
    TempOutput &operator=(const TempOutput &) = delete;

    bool create(const QString &finalPath);
    bool write(const void *data, size_t size);
    bool writeAt(long long offset, const void *data, size_t size);
    bool commit();

    // Set when a call above fails: the system error number and a sentence naming the file.
    int errorNumber() const { return m_errno; }
    QString errorText() const { return m_errorText; }

private:
    bool fail(const char *what);
    void discard();

    int m_fd = -1;
    QByteArray m_tempPath;
    QByteArray m_finalPath;
    int m_errno = 0;
    QString m_errorText;
};
