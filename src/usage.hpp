// SPDX-License-Identifier: MIT
// The answers to "--help", "-h" and "--version".
#ifndef BIGFILE_USAGE_HPP
#define BIGFILE_USAGE_HPP

// Whether the first argument asks about the tool instead of giving a count:
// exactly "--help" or "-h" (the usage), or exactly "--version". Nothing
// else does, not even "--helpx", "--" or "-": those are counts, read as
// ever, so that a caller who passes a count gets what it always got.
bool asks_about_tool(const char *argument);

// Answers such a request on standard output, touching no file. Returns the
// exit status: 0, or 1 when standard output would not take the answer.
int answer(const char *argument);

#endif
