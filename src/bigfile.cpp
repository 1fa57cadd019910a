// SPDX-License-Identifier: MIT
// bigfile: give the file "bigfile" in the current directory an exact length
// in mebibytes with one 64-bit length call, writing no data, and report each
// step on standard output.

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
int open_target()
{
    constexpr mode_t new_file_mode = 0644;
    return open64("bigfile", O_RDWR | O_CREAT | O_LARGEFILE, new_file_mode);
}

// The count line may still sit in the standard output buffer: flush it first
// so the lines keep their order when both streams go to one place. The flush
// can fail (standard output closed) and must not replace the open's errno.
void report_open_failure()
{
    const int open_error = errno;
    (void)std::fflush(stdout);
    errno = open_error;
    std::perror("bigfile");
}

// Two signals would kill the tool over a failure that it handles itself.
// SIGXFSZ comes with a length past the file-size limit (ulimit -f); ignored,
// the length call fails with EFBIG and is reported like any other failure
// instead of killing the tool along with its buffered lines. SIGPIPE comes
// with report lines written to a pipe that nobody reads; ignored, they fail
// like any other unwritten line and leave the status alone.
void ignore_killing_signals()
{
    (void)std::signal(SIGXFSZ, SIG_IGN);
    (void)std::signal(SIGPIPE, SIG_IGN);
}

// The error number is taken before anything else runs, so the line shows the
// length call's own cause.
void report_length_failure()
{
    const int length_error = errno;
    (void)std::printf("[%d]-ftruncate64 error: %s\n", length_error, std::strerror(length_error));
}

// The file's length now, or -1 when it cannot be read.
off64_t length_now(int fd)
{
    struct stat64 status {};
    return fstat64(fd, &status) < 0 ? -1 : status.st_size;
}

// A failed length call need not leave the file alone: vfat and exfat
// allocate and zero the new part as they grow the file, and when the volume
// fills they fail with the file grown as far as the space went. The length that the
// file had is put back, so that a failure changes nothing; putting it back
// can fail too, and that is said, never hidden.
void put_back_length(int fd, off64_t before)
{
    const off64_t after = length_now(fd);
    if (before < 0 || after == before) {
        return;
    }
    if (ftruncate64(fd, before) < 0) {
        const int put_back_error = errno;
        (void)std::fflush(stdout);
        (void)std::fprintf(stderr, "bigfile: cannot put back the length %" PRId64 ": %s\n",
                           std::int64_t{before}, std::strerror(put_back_error));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    constexpr int open_failed = -1; // a shell sees 255
    constexpr int length_failed = 1;

    ignore_killing_signals();

    std::int32_t total = 0;
    if (argc >= 2) {
        total = read_count(argv[1]);
        (void)std::printf("total=%" PRId32 "\n", total);
    }

    const int fd = open_target();
    if (fd < 0) {
        report_open_failure();
        return open_failed;
    }

    const std::int64_t offset = length_of(total);
    (void)std::printf("offset=%" PRId64 "\n", offset);

    const off64_t before = length_now(fd);
    if (ftruncate64(fd, offset) < 0) {
        report_length_failure();
        put_back_length(fd, before);
        (void)close(fd);
        return length_failed;
    }
    (void)close(fd);
    (void)std::puts("OK");
    return EXIT_SUCCESS;
}
