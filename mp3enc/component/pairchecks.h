#pragma once

#include "runtime/comerror.h"

#include <QString>
#include <memory>
#include <sys/stat.h>

class SndFileReader;

// What Open looks at before anything is encoded: the input, the output's name and folder, and
// the rate an encode keeps. Each refusal is thrown as the error the host traps.
namespace pairchecks {

constexpr int ErrInvalidFileFormat = 321;

[[noreturn]] inline void refuse(int number, const QString &text)
{
    throw rt::ComError(number, text);
}

// The input opened for reading, or refused with the reason.
std::unique_ptr<SndFileReader> openInput(const QString &path);
// Refuses an output that could not be written, or that would overwrite `input`.
void checkOutput(const SndFileReader &input, const QString &output);
// The input's own rate when MP3 has it, else the nearest MP3 rate below it.
int keptSampleRate(int inputRate);
// The same folder: the one a file ahead was encoded for is still the one under the path.
bool sameFolder(const struct stat &before, int descriptor);

} // namespace pairchecks
