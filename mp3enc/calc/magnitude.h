#pragma once

#include <cstddef>

// The largest of `largest` and the magnitudes of `n` samples, NaN passed over. Whole-file passes
// and the true peak's screen run it over every sample, so four lanes at a time where the machine
// has them.
float largestMagnitude(const float *x, std::size_t n, float largest = 0.0f);
