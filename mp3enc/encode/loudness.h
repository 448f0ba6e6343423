#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

class LoudnessMeter;
class SndFileReader;

// The radio gain field the encoder would write into the info tag for the whole input, from a pass
// of our own over the file `input` has open: the samples as the encoder holds them (mixed to the
// MP3's channels, scaled by its `scale`, and where `outputRate` is not the input's, through LAME's
// resampler in the blocks the encoder hands LAME), for a file that is encoded in pieces. Empty
// when stopped, or when the input cannot be read to its end (`*error` then says why, in the user's
// words). `beforeBlock`, if given, runs before each block is read; `*reading`, if given, gets the
// thread CPU seconds spent reading and scaling the input. `meter`, if given, hears the same
// samples, at the input's rate, and the field is then its track gain (radioGainField below), with
// no analysis or resampling of LAME's.
std::optional<std::uint16_t> radioGainOf(const SndFileReader &input, float scale, int outputRate,
                                         const std::atomic<bool> &stop, QString *error = nullptr,
                                         const std::function<void()> &beforeBlock = {},
                                         double *reading = nullptr, LoudnessMeter *meter = nullptr);

// The info tag's radio gain field carrying the meter's track gain ("not set" when it could not be
// measured): what the tag holds when ReplayGain 2.0 is measured instead of LAME's own.
std::uint16_t radioGainField(const LoudnessMeter &meter);

// Feeds `meter` the whole input `input` has open as the encoder would hand it to LAME (mixed,
// scaled by `scale`), without encoding: for a file whose MP3 is kept as it is. False when
// stopped or when the input cannot be read to its end (`*error` then says why).
bool measureAsLame(const SndFileReader &input, float scale, LoudnessMeter &meter,
                   const std::atomic<bool> &stop, QString *error);
