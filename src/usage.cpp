// SPDX-License-Identifier: MIT
#include "usage.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char *usage = R"(usage: bigfile [COUNT]
       bigfile --help | -h | --version

Gives the file "bigfile" in the current directory a length of exactly COUNT
mebibytes (COUNT x 1048576 bytes; 0 without COUNT) with one length call,
writing no data: a missing file is created, a longer one is cut, a shorter
one grows with zero bytes. COUNT is read in base 10 after any blanks and one
sign, up to the first other character; text without digits reads as 0.

Standard output, in this order:
  total=COUNT        the count read, when one is given
  offset=BYTES       the length about to be set
  OK                 the length is set
  [ERRNO]-ftruncate64 error: TEXT
                     the length call failed; the file is as it was

Exit status: 0 the length is set, 1 the length call failed, 255 the file
could not be opened, 128+N stopped by signal N during the length call.

The manual: man bigfile
)";

} // namespace

bool asks_about_tool(const char *argument)
{
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0 ||
           std::strcmp(argument, "--version") == 0;
}

int answer(const char *argument)
{
    const bool version = std::strcmp(argument, "--version") == 0;
    const int written =
        version ? std::printf("bigfile %s\n", BIGFILE_VERSION) : std::fputs(usage, stdout);
    return written < 0 ? EXIT_FAILURE : EXIT_SUCCESS;
}
