#pragma once

#include "runtime/control.h"

#include <QMap>
#include <QString>
#include <QStringList>

// A stand-in for the encoder component, for driving a batch through outcomes the real one gives
// only on a full disk or a broken install. Each input's outcome is set by its file name; events
// come from the event loop, one ActFrame and then ThreadEnded, as the real component's do.
class FakeEncoder final : public rt::Control
{
public:
    enum class Outcome
    {
        Converted, // a small file is written under the output's name; LastNotice gives the reason
        Failed,    // LastError gives the reason
        Broken,    // asking why throws, as a component that has gone would
        Kept,      // nothing written: IfExists left a file that stood under the name by then
        Renamed,   // written under "name (1).mp3": one stood under the name by then
    };
    struct Plan
    {
        Outcome outcome = Outcome::Converted;
        QString reason;
    };

    explicit FakeEncoder(rt::ControlSite *site) : rt::Control(site) {}

    QMap<QString, Plan> plans;  // by the input's file name; Converted when not listed
    QStringList puts;           // every property put, in order: "id=value"
    QList<rt::DispId> refusing; // properties it refuses, with the reason "refused"

    QList<rt::MemberInfo> members() const override;
    QVariant getProperty(rt::DispId id) override;
    void putProperty(rt::DispId id, const QVariant &value) override;
    QVariant invoke(rt::DispId id, const QVariantList &args) override;

private:
    void finish();

    QString m_input, m_output;
    Plan m_plan;
    bool m_broken = false;
    QString m_lastError;
    QString m_lastNotice;
    QString m_placed;
    int m_generation = 0;
};
