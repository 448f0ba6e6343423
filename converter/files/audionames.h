#pragma once

#include <QString>

// Which names are the audio files the encoder reads, by their endings in any letter case.

// A name ending in ".wav".
bool IsWavName(const QString &path);
// A name ending in one of the kinds the encoder reads besides WAV ("flac", "aiff", "opus", ...);
// IsAudioName also counts ".wav".
bool IsOtherAudioName(const QString &path);
bool IsAudioName(const QString &path);
// Every kind's ending as a file dialog's pattern: "*.wav *.flac ...".
QString AudioNamePatterns();
