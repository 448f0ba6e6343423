#pragma once

#include "mp3enc/component/albummeasures.h"
#include "mp3enc/component/mp3enc.h"

#include <QObject>
#include <QString>
#include <deque>
#include <mutex>

// Lives on the creating thread; the worker queues deliveries to it. It may outlive its owner
// for a moment when the host destroys the component from inside an event.
//
// What a delivery carries goes through a mailbox under a mutex, and the queued call that wakes
// the pump carries nothing: a thread sanitizer cannot see the synchronisation inside Qt's event
// queue (Qt is not built for it), and a lambda's captures read on this side would be reported.
class EventPump : public QObject
{
    Q_OBJECT
public:
    struct Delivery
    {
        enum Kind
        {
            Frame,
            Failure,
            Ended,
            OutOfSpace,
            InputChanged,
            Measured
        } kind = Frame;
        quint64 generation = 0;
        int number = 0;
        QString text;
        QString notice; // of a file that converted
        AlbumMeasures::Result measured = {};
    };

    explicit EventPump(Mp3Enc *owner) : m_owner(owner) {}

    // Worker side. One queued call per delivery, so a nested event loop in the host's handler
    // (a message box) still receives the ones behind it.
    // The queued call is made under the mailbox's lock: the event Qt allocates for it is then
    // seen, by a thread sanitizer too, to come before its delivery takes that lock and frees it.
    void post(Delivery delivery)
    {
        std::lock_guard lock(m_mutex);
        m_mailbox.push_back(std::move(delivery));
        QMetaObject::invokeMethod(this, "deliverNext", Qt::QueuedConnection);
    }

    Q_INVOKABLE void deliverNext()
    {
        Delivery delivery;
        {
            std::lock_guard lock(m_mutex);
            if (m_mailbox.empty())
                return;
            delivery = std::move(m_mailbox.front());
            m_mailbox.pop_front();
        }
        if (!m_owner)
            return;
        switch (delivery.kind) {
        case Delivery::Frame:
            m_owner->deliverFrame(delivery.generation);
            break;
        case Delivery::Failure:
            m_owner->deliverFailure(delivery.generation, delivery.number, delivery.text);
            break;
        case Delivery::Ended:
            m_owner->deliverEnded(delivery.generation, delivery.text, delivery.notice);
            break;
        case Delivery::OutOfSpace:
            m_owner->deliverOutOfSpace(delivery.generation, delivery.number, delivery.text);
            break;
        case Delivery::InputChanged:
            m_owner->deliverInputChanged(delivery.generation, delivery.number, delivery.text);
            break;
        case Delivery::Measured:
            m_owner->deliverMeasured(std::move(delivery.measured));
            break;
        }
    }

    Mp3Enc *m_owner;
    int m_delivering = 0;

private:
    std::mutex m_mutex;
    std::deque<Delivery> m_mailbox;
};

// While the pump delivers an event: the host may destroy the component from inside it.
struct DeliveryScope
{
    explicit DeliveryScope(EventPump *pump) : m_pump(pump) { ++m_pump->m_delivering; }
    ~DeliveryScope() { --m_pump->m_delivering; }
    EventPump *m_pump;
};
