#include "fakeencoder.h"

#include "converter/encoder/mp3enc.h"
#include "runtime/comerror.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

QList<rt::MemberInfo> FakeEncoder::members() const
{
    return {};
}

QVariant FakeEncoder::getProperty(rt::DispId id)
{
    if (id == Mp3Enc::LastNotice)
        return m_lastNotice;
    if (id == Mp3Enc::LastOutput)
        return m_placed;
    if (id != Mp3Enc::LastError)
        return 0;
    if (m_broken)
        throw rt::ComError(rt::ErrCannotCreateObject, m_plan.reason);
    return m_lastError;
}

void FakeEncoder::putProperty(rt::DispId id, const QVariant &value)
{
    if (refusing.contains(id))
        throw rt::ComError(rt::ErrInvalidCall, QStringLiteral("refused"));
    puts.append(QStringLiteral("%1=%2").arg(id).arg(value.toString()));
}

QVariant FakeEncoder::invoke(rt::DispId id, const QVariantList &args)
{
    switch (id) {
    case Mp3Enc::Open:
        m_input = args.value(0).toString();
        m_output = args.value(1).toString();
        m_plan = plans.value(QFileInfo(m_input).fileName());
        m_broken = false;
        m_lastError.clear();
        m_lastNotice.clear();
        m_placed.clear();
        break;
    case Mp3Enc::Encode:
        QTimer::singleShot(0, [this, generation = ++m_generation] {
            if (generation == m_generation)
                finish();
        });
        break;
    case Mp3Enc::Stop:
        ++m_generation;
        break;
    case Mp3Enc::GetFrameCount:
        return 10;
    default:
        break;
    }
    return 0;
}

void FakeEncoder::finish()
{
    if (m_plan.outcome == Outcome::Converted || m_plan.outcome == Outcome::Renamed) {
        m_placed = m_plan.outcome == Outcome::Converted
                       ? m_output
                       : m_output.chopped(4) + QStringLiteral(" (1).mp3");
        QFile out(m_placed);
        if (out.open(QIODevice::WriteOnly))
            out.write("ID3");
    }
    m_lastError = m_plan.outcome == Outcome::Failed ? m_plan.reason : QString();
    m_lastNotice = m_plan.outcome == Outcome::Converted ? m_plan.reason : QString();
    m_broken = m_plan.outcome == Outcome::Broken;
    QVariantList frame{10};
    raiseEvent(Mp3Enc::ActFrame, frame);
    raiseEvent(Mp3Enc::ThreadEnded);
}
