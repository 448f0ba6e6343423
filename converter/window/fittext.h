#pragma once

class QLabel;

// A substituted font may need more room than the one asked for by name. These step the label's
// font down, half a point at a time and not below 6 pt, until its text fits, rather than have it
// cut off or covered.

// Wrapped text inside the label's own box.
void FitTextToBox(QLabel *label);
// One line no wider than `width` pixels; the label is sized to its text.
void FitTextToWidth(QLabel *label, int width);
