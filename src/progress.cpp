// SPDX-License-Identifier: MIT
#include "progress.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// How fast the file grew, and over how many seconds that was measured.
struct Rate {
    double mebibytes_per_second;
    double seconds;
};
// The line's parts, in the order that they are kept when it must be cut: the
// lengths, the percentage, the rate and the time left.
constexpr std::size_t part_size = 48;
using Parts = std::array<std::array<char, part_size>, 4>;

// Whether standard error is the terminal that the tool is in the foreground
// of: only then is a line drawn there. A pipe, a file, a terminal that is not
// the tool's own, and a background job all get nothing.
bool in_foreground()
{
    const pid_t foreground = tcgetpgrp(STDERR_FILENO);
    return foreground >= 0 && foreground == getpgrp();
}

// The terminal's width in columns; 80 when it does not say.
int terminal_width()
{
    struct winsize size {};
    constexpr int usual = 80;
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : usual;
}

// Bytes as mebibytes, to the KiB. The whole MiB and the KiB are each shifted
// into 32 bits before they become floating point: a 32-bit build then needs
// no 64-bit arithmetic from GCC's runtime library, which most 32-bit ports
// link as a shared library that the package does not depend on.
double in_mebibytes(off64_t bytes)
{
    constexpr int kibibyte_bits = 10;
    constexpr off64_t kibibytes = (off64_t{1} << kibibyte_bits) - 1;
    constexpr double kibibytes_in_mebibyte = 1024;
    const auto whole = static_cast<long>(bytes >> (2 * kibibyte_bits));
    const auto part = static_cast<long>((bytes >> kibibyte_bits) & kibibytes);
    return static_cast<double>(whole) + static_cast<double>(part) / kibibytes_in_mebibyte;
}

// Adds a sample of the file's length, dropping the oldest beyond the window;
// returns the rate at which the file grew over the window.
Rate sample(Progress &progress, const Sample &now)
{
    auto &samples = progress.samples;
    if (progress.taken == samples.size()) {
        std::rotate(samples.begin(), samples.begin() + 1, samples.end());
        --progress.taken;
    }
    samples[progress.taken++] = now;
    const double seconds = now.seconds - samples[0].seconds;
    const double grown = in_mebibytes(now.length - samples[0].length);
    return {seconds > 0 ? grown / seconds : 0, seconds};
}

// Words the line's parts: the file's length of the length asked (in GiB from
// 1 GiB on, else MiB), the percentage, the rate, once there is one, and the
// time left, rounded up, once the rate has been measured over three seconds,
// so that it means something.
Parts describe(const Progress &progress, off64_t length, const Rate &rate)
{
    constexpr double kibibyte = 1024;
    const double done = in_mebibytes(length);
    const double asked = in_mebibytes(progress.asked);
    const bool in_gib = asked >= kibibyte;
    const double unit = in_gib ? kibibyte : 1;
    const char *unit_name = in_gib ? "GiB" : "MiB";
    Parts parts{};
    (void)std::snprintf(parts[0].data(), part_size, "%.1f %s of %.1f %s", done / unit, unit_name,
                        asked / unit, unit_name);
    constexpr double percent = 100;
    constexpr long almost_all = 99; // until the grow ends, which clears the line
    const auto share = static_cast<long>(percent * done / asked);
    (void)std::snprintf(parts[1].data(), part_size, "  %ld%%", std::min(share, almost_all));
    const double per_second = rate.mebibytes_per_second;
    if (per_second > 0) {
        const bool in_mib = per_second >= 1;
        (void)std::snprintf(parts[2].data(), part_size, "  %.1f %s/s",
                            per_second * (in_mib ? 1 : kibibyte), in_mib ? "MiB" : "KiB");
    }
    constexpr double meaningful = 3;
    constexpr long minute = 60;
    constexpr long hour = 60 * minute;
    constexpr double longest = 100.0 * hour; // past that, no time left means anything
    const double seconds_left = per_second > 0 ? (asked - done) / per_second : 0;
    if (rate.seconds >= meaningful && per_second > 0 && seconds_left < longest) {
        auto left = static_cast<long>(seconds_left);
        left += static_cast<double>(left) < seconds_left ? 1 : 0; // rounded up: never "0:00"
        if (left >= hour) {
            (void)std::snprintf(parts[3].data(), part_size, "  %ld:%02ld:%02ld left", left / hour,
                                left % hour / minute, left % minute);
        } else {
            (void)std::snprintf(parts[3].data(), part_size, "  %ld:%02ld left", left / minute,
                                left % minute);
        }
    }
    return parts;
}

// Draws as many of the parts, from the first, as fit the terminal with its
// last column left free, so that the line never wraps; when not even the
// first fits, nothing is drawn.
void draw(Progress &progress, const Parts &parts)
{
    const auto room = static_cast<std::size_t>(terminal_width() - 1);
    std::array<char, part_size * 4> line{};
    std::size_t width = 0;
    for (const auto &part : parts) {
        width += std::strlen(part.data());
        if (width > room) {
            break;
        }
        (void)std::strncat(line.data(), part.data(), part_size);
    }
    if (line[0] == '\0') {
        clear_progress(progress);
        return;
    }
    (void)std::fprintf(stderr, "\r%s\033[K", line.data());
    progress.drawn = true;
}

} // namespace

void clear_progress(Progress &progress)
{
    if (progress.drawn) {
        (void)std::fputs("\r\033[K", stderr);
        progress.drawn = false;
    }
}

void show_progress(Progress &progress, off64_t length)
{
    timespec now{};
    if (length < 0 || length >= progress.asked || !in_foreground() ||
        clock_gettime(CLOCK_MONOTONIC, &now) < 0) {
        clear_progress(progress);
        return;
    }
    constexpr double nanosecond = 1e-9; // the clock's seconds since boot fit in a long
    const double seconds = static_cast<double>(static_cast<long>(now.tv_sec)) +
                           nanosecond * static_cast<double>(now.tv_nsec);
    draw(progress, describe(progress, length, sample(progress, {seconds, length})));
}
