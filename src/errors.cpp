// SPDX-License-Identifier: MIT
#include "errors.hpp"

#include <cerrno>
#include <cstring>

// The C libraries word some errors differently (musl: "I/O error" for
// "Input/output error"). Of the errors that opening, sizing and reading the
// length of a file can give, those are named here, worded as the GNU C
// library words them in the default locale; every other text is the C
// library's own, which agree.
const char *error_text(int error)
{
    switch (error) {
    case EIO:
        return "Input/output error";
    case ENOMEM:
        return "Cannot allocate memory";
    case EBUSY:
        return "Device or resource busy";
    case EMFILE:
        return "Too many open files";
    case ENAMETOOLONG:
        return "File name too long";
    case ELOOP:
        return "Too many levels of symbolic links";
    case EOVERFLOW:
        return "Value too large for defined data type";
    case EOPNOTSUPP:
        return "Operation not supported";
    case EDQUOT:
        return "Disk quota exceeded";
    default:
        return std::strerror(error);
    }
}
