// The component's construction and its events, delivered on the thread that created it.
#include "mp3enc/component/mp3enc.h"

#include "mp3enc/component/encodetask.h"
#include "mp3enc/component/eventpump.h"
#include "runtime/filename.h"

#include <QFileInfo>

Mp3Enc::Mp3Enc(rt::ControlSite *site)
    : rt::Control(site), m_pump(new EventPump(this)),
      m_measures(std::make_unique<AlbumMeasures>([this](AlbumMeasures::Result result) {
          EventPump::Delivery delivery;
          delivery.kind = EventPump::Delivery::Measured;
          delivery.measured = std::move(result);
          m_pump->post(std::move(delivery));
      }))
{}

Mp3Enc::~Mp3Enc()
{
    m_measures.reset(); // its worker posts to the pump
    Stop();
    if (m_pump->m_delivering > 0) {
        // Destroyed by the host from inside one of our events: let that delivery unwind first.
        m_pump->m_owner = nullptr;
        m_pump->deleteLater();
    } else {
        delete m_pump; // also drops whatever is still queued for it
    }
}

void Mp3Enc::postFrame(quint64 generation)
{
    if (m_framePosted.exchange(true))
        return; // the waiting one will carry the newest number
    m_pump->post({EventPump::Delivery::Frame, generation, 0, {}, {}});
}

void Mp3Enc::postFailure(quint64 generation, int number, const QString &text)
{
    m_pump->post({EventPump::Delivery::Failure, generation, number, text, {}});
}

void Mp3Enc::postEnded(quint64 generation, const QString &failure, const QString &notice)
{
    m_pump->post({EventPump::Delivery::Ended, generation, 0, failure, notice});
}

void Mp3Enc::deliverFrame(quint64 generation)
{
    if (generation != m_generation)
        return;
    m_framePosted.store(false);
    const int frame = m_newestFrame.load();
    if (frame <= m_lastFrame)
        return;
    m_lastFrame = frame;
    QVariantList args{frame};
    DeliveryScope scope(m_pump);
    raiseEvent(EventActFrame, args); // the host may destroy us in here: touch nothing after
}

void Mp3Enc::deliverFailure(quint64 generation, int number, const QString &text)
{
    if (generation != m_generation)
        return;
    QVariantList args{number, text};
    DeliveryScope scope(m_pump);
    raiseEvent(EventFailure, args);
}

void Mp3Enc::deliverMeasured(AlbumMeasures::Result result)
{
    const auto album = m_measuring.find(result.album);
    if (result.generation != m_measureGeneration || album == m_measuring.end())
        return; // stopped, or forgotten, since
    QString why = result.problem;
    if (why.isEmpty() && !trackFigures(*result.meter))
        why = QStringLiteral("无法测得响度（几乎全是静音）");
    if (why.isEmpty())
        m_albumGain.add(result.album, result.mp3, std::move(result.meter));
    else if (album->problem.isEmpty())
        album->problem =
            rt::displayFileName(QFileInfo(result.mp3).fileName()) + QStringLiteral("：") + why;
    if (--album->left > 0)
        return;
    QVariantList args{result.album, album->problem};
    m_measuring.erase(album);
    DeliveryScope scope(m_pump);
    raiseEvent(EventAlbumMeasured, args);
}

void Mp3Enc::deliverEnded(quint64 generation, const QString &failure, const QString &notice)
{
    if (generation != m_generation)
        return;
    m_lastError = failure;
    m_lastNotice = notice;
    m_current.reset(); // its thread has nothing left to do but return
    m_running = false;
    DeliveryScope scope(m_pump);
    raiseEvent(EventThreadEnded); // the host may Open and Encode the next file in here
}
