#pragma once

#include "converter/batch/batchoptions.h"
#include "converter/encoder/mp3enc.h"

#include <QList>
#include <QString>
#include <optional>

// A setting the encoder refused: which (as a user reads it), and the encoder's reason.
struct SettingFailure
{
    QString setting;
    QString reason;
    QString text() const { return setting + QStringLiteral("：") + reason; }
};

// The encoder's side of the profile: each setting put when a profile asks for it first or
// differently from the one before, so a change puts that setting alone. The first profile puts
// every setting it has (a constant rate its BitRate alone, as the window always has), with
// down-sampling and down-mixing allowed.
class EncoderSettings
{
public:
    // Each step is independent: one the encoder refuses is skipped, and the next one runs.
    QList<SettingFailure> apply(Mp3Enc::Binding mp3, const BatchOptions &options);

private:
    std::optional<BatchOptions> m_last;
};

// The encoder's IfExists for `rule`: the rule as it holds when each MP3 is put in place.
qint32 IfExistsFor(ExistingRule rule);

// The encoder's ReplayGain for `tags`.
qint32 ReplayGainFor(ReplayGainTags tags);
