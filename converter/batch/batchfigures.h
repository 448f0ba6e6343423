#pragma once

#include <QString>
#include <optional>

// The figures of a batch that every face shows alike: output names and percent, and which
// characters may not stand as they are in a name or on a terminal. Plain functions, checked
// without a window.
namespace batchfigures {

inline const QString Mp3Ending = QStringLiteral("mp3");
inline const QString PercentSuffix = QStringLiteral(" %");

// `s` without leading and trailing blanks (only U+0020, not other white space).
QString TrimBlanks(const QString &s);

// A character that must not stand as it is in a name made from tags or on a terminal: a control
// character (C0, DEL, C1), which moves the cursor or breaks a line, or a mark that turns or
// breaks what follows it (bidirectional embeddings, overrides, isolates and marks; line and
// paragraph separators).
bool IsControlCharacter(char16_t c);

// The output name for an input file name: blanks trimmed, then the last three characters
// (normally the "wav" ending in any case) replaced by "mp3". No value when fewer than three
// characters remain, since such a name cannot be given an ending. A name with the ending of
// another kind the encoder reads has that whole ending replaced ("a.flac" gives "a.mp3").
std::optional<QString> OutputFileName(const QString &inputFileName);

// Frame `frame` of `frameCount` in whole percent, halves to even, computed in 64 bits.
// A frame count of 0 (or less) gives 0.
qint32 FramePercent(qint32 frame, qint32 frameCount);
// "37 %".
QString PercentText(qint32 percent);

} // namespace batchfigures
