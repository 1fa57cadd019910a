// SPDX-License-Identifier: MIT
// bigfile: give the file "bigfile" in the current directory an exact length
// in mebibytes with one 64-bit length call, writing no data, and report each
// step on standard output.

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "errors.hpp"
#include "progress.hpp"
#include "usage.hpp"

static_assert(sizeof(off64_t) == sizeof(std::int64_t), "the length call needs 64-bit lengths");

namespace {

// The count is the first argument read the way a 32-bit atol reads it, in
// base 10: leading white space is skipped, one optional sign is taken, then
// digits up to the first other character; the rest is ignored. No digits
// reads as 0, and a value beyond the 32-bit range reads as the nearest bound
// instead of wrapping. Text is never refused, so reading cannot fail.
std::int32_t read_count(const char *argument)
{
    constexpr int decimal = 10;
    const long long value = std::strtoll(argument, nullptr, decimal);
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

// The count in bytes. It is widened before it is scaled, so 2048 MiB and
// more keep their sign; a negative count stays negative, and the length call
// refuses it. The widest count gives 2^51 - 2^20, far inside 64 bits.
std::int64_t length_of(std::int32_t total)
{
    constexpr std::int64_t mebibyte = std::int64_t{1} << 20;
    return std::int64_t{total} * mebibyte;
}

// Opens the target for reading and writing, creating it with mode 0644 (less
// the umask) when it is missing. There is no O_TRUNC, so the bytes in front of
// the new end survive, and no O_EXCL, so a symbolic link is followed. Without
// O_LARGEFILE an i386 build could not open a file of 2 GiB or more.
//
// A tool started with standard output or error closed would get that
// descriptor for the file, and its report lines would be written into the
// file: such a descriptor is moved up, and the stream's own stays closed.
int open_target()
{
    constexpr mode_t new_file_mode = 0644;
    const int fd = open64("bigfile", O_RDWR | O_CREAT | O_LARGEFILE, new_file_mode);
    if (fd < 0 || fd > STDERR_FILENO) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD, STDERR_FILENO + 1);
    const int move_error = errno;
    (void)close(fd);
    errno = move_error;
    return moved;
}

// The signals that the tool takes in its own time, all held (blocked) from
// the start, so that no handler is needed:
// - SIGXFSZ comes with a length past the file-size limit (ulimit -f); held,
//   the length call fails with EFBIG and is reported like any other failure
//   instead of killing the tool along with its buffered lines. SIGPIPE comes
//   with report lines written to a pipe that nobody reads; held, they fail
//   like any other unwritten line and leave the status alone. Both stay
//   pending, unseen, until the tool ends.
// - SIGHUP, SIGINT, SIGQUIT and SIGTERM ask the tool to stop; while the
//   length call runs, they are waited for (see set_length), and the tool
//   stops by them once it has put the length back.
// - SIGCHLD tells that the length call is done. Its action is made the
//   default, since an ignored SIGCHLD is never sent at all.
sigset_t hold_signals()
{
    sigset_t held;
    (void)sigemptyset(&held);
    for (const int signal : {SIGXFSZ, SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD}) {
        (void)sigaddset(&held, signal);
    }
    (void)sigprocmask(SIG_BLOCK, &held, nullptr);
    (void)std::signal(SIGCHLD, SIG_DFL);
    return held;
}

// Whether the signal was ignored when the tool started: such a signal (a
// hang-up under nohup) is passed over, as if it had never come. A held
// signal is queued even where it is ignored, so this is asked as each one
// comes.
bool ignored(int signal)
{
    struct sigaction action {};
    return sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

// The file's length now, or -1 when it cannot be read.
off64_t length_now(int fd)
{
    struct stat64 status {};
    return fstat64(fd, &status) < 0 ? -1 : status.st_size;
}

// Sets the file's length with one length call, made by a child process that
// the tool can stop: vfat and exfat allocate and zero every new cluster as
// they grow a file, which can take minutes, and the kernel cuts that short
// only for a signal that kills the process making the call. A signal that the
// tool caught would let the whole fill run first. So the tool waits for the
// child or for a signal to stop; on a signal it kills the child with SIGKILL,
// which ends the fill at once. What the child did decides the outcome, so a
// signal that comes once the length is set is too late to undo it. Returns 0
// when the length is set, the length call's error number when it failed
// (EINTR when something else killed the child), or minus the signal that
// stopped it. Should no child be had, the call is made here, and cannot be
// stopped.
//
// A call that runs past a second shows its progress on the terminal, redrawn
// each second that the wait finds nothing (see show_progress); the line is
// cleared before the tool writes anything else, by the interrupted message
// itself when a signal stopped the call (see report_interruption). A quicker
// call makes the same system calls as one that shows nothing.
//
// The child dies with the tool: should the tool be killed outright (SIGKILL,
// the out-of-memory killer), nothing is left making the length call unseen.
// The tool may die before the child asks for that, so the child then checks
// that the tool is still its parent.
int set_length(int fd, off64_t length, const sigset_t &held)
{
    const pid_t tool = getpid();
    const pid_t child = fork();
    if (child == 0) {
        (void)prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != tool) {
            _exit(EINTR);
        }
        _exit(ftruncate64(fd, length) < 0 ? errno : 0);
    }
    if (child < 0) {
        return ftruncate64(fd, length) < 0 ? errno : 0;
    }
    sigset_t awaited = held;
    (void)sigdelset(&awaited, SIGXFSZ);
    (void)sigdelset(&awaited, SIGPIPE);
    const timespec redraw{1, 0};
    Progress progress{length, {}, 0, false};
    int stop = 0;
    while (stop == 0) {
        const int signal = sigtimedwait(&awaited, nullptr, &redraw);
        if (signal == SIGCHLD) {
            break;
        }
        if (signal < 0 && errno == EAGAIN) {
            show_progress(progress, length_now(fd));
        } else if (signal > 0 && !ignored(signal)) {
            stop = signal;
            (void)kill(child, SIGKILL);
        }
    }
    int status = 0;
    const pid_t reaped = waitpid(child, &status, 0);
    const int wait_error = errno;
    const bool interrupted = reaped >= 0 && stop != 0 && !WIFEXITED(status);
    if (!interrupted) { // an interrupted call's line goes with the interrupted message
        clear_progress(progress);
    }
    if (reaped < 0) {
        return wait_error;
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return interrupted ? -stop : EINTR; // or killed by someone else: the call did not finish
}

// The line shows the length call's own error number, and its text.
void report_length_failure(int length_error)
{
    (void)std::printf("[%d]-ftruncate64 error: %s\n", length_error, error_text(length_error));
}

// A failed length call need not leave the file alone: vfat and exfat
// allocate and zero the new part as they grow the file, and when the volume
// fills they fail with the file grown as far as the space went. The length that the
// file had is put back, so that a failure changes nothing; putting it back
// can fail too, and that is said, never hidden, after the prefix. Returns
// whether the file has its old length again.
bool put_back_length(int fd, off64_t before, const char *prefix)
{
    const off64_t after = length_now(fd);
    if (before < 0 || after == before) {
        return before >= 0;
    }
    if (ftruncate64(fd, before) < 0) {
        const int put_back_error = errno;
        (void)std::fprintf(stderr, "%scannot put back the length %" PRId64 ": %s\n", prefix,
                           std::int64_t{before}, error_text(put_back_error));
        return false;
    }
    return true;
}

// A stopped length call may have grown the file part of the way: its length
// is put back, and that is said on standard error. On a terminal the message
// first clears the line, in the same write: the progress line, and the ^C
// that the terminal echoes after it has sent SIGINT, which may land at any
// moment until then.
void report_interruption(int fd, off64_t before)
{
    const char *clear_line = isatty(STDERR_FILENO) != 0 ? "\r\033[K" : "";
    constexpr std::size_t prefix_size = 32;
    std::array<char, prefix_size> prefix{};
    (void)std::snprintf(prefix.data(), prefix_size, "%sbigfile: interrupted: ", clear_line);
    if (put_back_length(fd, before, prefix.data())) {
        (void)std::fprintf(stderr, "%sput back the length %" PRId64 "\n", prefix.data(),
                           std::int64_t{before});
    }
}

// Ends the tool by the signal that stopped the length call, as that signal
// would have without the wait, so that a shell sees 128 plus its number.
void end_by(int signal)
{
    sigset_t only;
    (void)sigemptyset(&only);
    (void)sigaddset(&only, signal);
    (void)sigprocmask(SIG_UNBLOCK, &only, nullptr);
    (void)std::raise(signal);
}

} // namespace

int main(int argc, char *argv[])
{
    constexpr int open_failed = -1; // a shell sees 255
    constexpr int length_failed = 1;
    constexpr int ended_by_signal = 128; // as a shell shows a process that a signal ended

    const sigset_t held = hold_signals();
    // Each line goes out in one write as its step happens: before a length
    // call that may take minutes, in order with standard error, and with no
    // buffer to set up.
    (void)std::setvbuf(stdout, nullptr, _IONBF, 0);

    if (argc >= 2 && asks_about_tool(argv[1])) {
        return answer(argv[1]); // and the file is not touched
    }

    std::int32_t total = 0;
    if (argc >= 2) {
        total = read_count(argv[1]);
        (void)std::printf("total=%" PRId32 "\n", total);
    }

    const int fd = open_target();
    if (fd < 0) {
        const int open_error = errno;
        (void)std::fprintf(stderr, "bigfile: %s\n", error_text(open_error));
        return open_failed;
    }

    const std::int64_t offset = length_of(total);
    (void)std::printf("offset=%" PRId64 "\n", offset);

    const off64_t before = length_now(fd);
    const int outcome = set_length(fd, offset, held);
    if (outcome < 0) {
        report_interruption(fd, before);
        (void)close(fd);
        end_by(-outcome);
        return ended_by_signal - outcome; // only if the signal did not end the tool
    }
    if (outcome > 0) {
        report_length_failure(outcome);
        (void)put_back_length(fd, before, "bigfile: ");
        (void)close(fd);
        return length_failed;
    }
    (void)close(fd);
    (void)std::fputs("OK\n", stdout); // one write, where puts makes two unbuffered
    return EXIT_SUCCESS;
}
