#pragma once

// The program without a window: --convert, --help and --version, on a terminal or in a script,
// with no display. Returns the exit status.
int RunWithoutWindow(int argc, char **argv);
