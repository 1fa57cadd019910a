// SPDX-License-Identifier: MIT
// The words for a failure's error number.
#ifndef BIGFILE_ERRORS_HPP
#define BIGFILE_ERRORS_HPP

// The text for an error number, worded the same by every build of the tool,
// whatever its C library: the lines that show it stay the same bytes, for a
// reader and for a script that matches them.
const char *error_text(int error);

#endif
