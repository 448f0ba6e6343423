#include "converter/console/consolebatch.h"

#include "converter/batch/batchfigures.h"
#include "converter/console/batchformatter.h"

ConsoleBatch::ConsoleBatch(BatchEngine &engine, FoundFiles found, BatchFormatter &formatter,
                           QObject *parent)
    : QObject(parent), m_engine(engine), m_found(std::move(found)), m_formatter(formatter)
{
    connect(&m_engine, &BatchEngine::planned, this, [this] { m_formatter.planned(); });
    connect(&m_engine, &BatchEngine::fileStarted, this,
            [this](int position, const QString &) { m_formatter.fileStarted(position); });
    connect(&m_engine, &BatchEngine::progress, this,
            [this](int position, qint32 frame, qint32 frameCount) {
                m_formatter.progress(position, batchfigures::FramePercent(frame, frameCount));
            });
    connect(&m_engine, &BatchEngine::fileEnded, this,
            [this](int position, const FileOutcome &outcome) {
                m_formatter.fileEnded(position, outcome);
            });
    connect(&m_engine, &BatchEngine::finished, this, &ConsoleBatch::onFinished);
}

void ConsoleBatch::start()
{
    if (m_done)
        return;
    if (m_found.files.isEmpty() && m_found.complete()) {
        m_formatter.warn(QStringLiteral("给出的文件夹中没有要转换的音频文件"));
        m_done = true;
        emit finished(1);
        return;
    }
    m_engine.start(m_found);
}

void ConsoleBatch::interrupt(int signalNumber)
{
    if (m_done)
        return;
    if (m_engine.running())
        m_engine.interrupt(signalNumber);
    else // before the first file
        m_engine.cancel(m_found, signalNumber);
}

void ConsoleBatch::onFinished()
{
    if (m_done)
        return;
    m_done = true;
    m_formatter.finished(m_engine.report());
    // What was to be said could not all be said: no success.
    emit finished(m_engine.report().exitStatus(m_formatter.delivered()));
}
