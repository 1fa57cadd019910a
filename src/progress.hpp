// SPDX-License-Identifier: MIT
// The progress line of a long grow, drawn on standard error while the tool
// waits for the length call: the file's length of the length asked, the
// percentage, the rate and the time left, redrawn in place once a second.
#ifndef BIGFILE_PROGRESS_HPP
#define BIGFILE_PROGRESS_HPP

#include <array>
#include <cstddef>

#include <sys/types.h>

// What the line has seen of the file at its last few redraws, and whether a
// line is on the terminal now.
constexpr std::size_t rate_window = 8; // seconds that the rate is taken over
struct Sample {
    // cppcheck-suppress unusedStructMember ; read through the array of samples
    double seconds;
    off64_t length;
};
struct Progress {
    off64_t asked;
    std::array<Sample, rate_window> samples; // the oldest first
    std::size_t taken;
    bool drawn;
};

// Redraws the line from the file's length now, while the file is still
// growing towards the length asked and the tool is in the terminal's
// foreground; otherwise clears it. A length below 0 is one that could not be
// read.
void show_progress(Progress &progress, off64_t length);

// Clears the line, if one is drawn, so that what the tool writes next starts
// a line of its own.
void clear_progress(Progress &progress);

#endif
