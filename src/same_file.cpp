#include "same_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

// A narrow inode number or size makes fstat fail with EOVERFLOW on a large
// file, which is refused below, never let through; but then every such file
// would be refused, so the build asks for wide ones. Times are not read: a
// C library without 64-bit times may misread a date or fail on it, and that
// can only refuse.
static_assert(sizeof(stat::st_ino) >= 8, "build with _FILE_OFFSET_BITS=64");
static_assert(sizeof(stat::st_size) >= 8, "build with _FILE_OFFSET_BITS=64");

namespace {

enum class Kind {
    not_regular, // a pipe, terminal, socket or device, or closed: never the other end
    regular,
    unknown, // could not be examined: maybe a regular file
};

struct Examined {
    Kind kind;
    struct stat status;
    int error; // the errno behind Kind::unknown
};

Examined examine(int fd)
{
    Examined result { Kind::regular, {}, 0 };
    if (fstat(fd, &result.status) == 0) {
        if (!S_ISREG(result.status.st_mode))
            result.kind = Kind::not_regular;
        return result;
    }
    // Nothing can be read from a closed descriptor or written to it.
    if (errno == EBADF) {
        result.kind = Kind::not_regular;
        return result;
    }
    // Some container filters answer fstat's system call with EPERM. A
    // stream that cannot seek is still known to be no regular file.
    const int fstat_error = errno;
    if (lseek(fd, 0, SEEK_CUR) < 0 && errno == ESPIPE) {
        result.kind = Kind::not_regular;
        return result;
    }
    result.kind = Kind::unknown;
    result.error = fstat_error;
    return result;
}

} // namespace

StreamCheck check_input_against_output(int input_fd, int output_fd)
{
    const Examined input = examine(input_fd);
    if (input.kind == Kind::not_regular)
        return { nullptr, 0 };
    const Examined output = examine(output_fd);
    if (output.kind == Kind::not_regular)
        return { nullptr, 0 };
    if (input.kind == Kind::unknown)
        return { "standard input", input.error };
    if (output.kind == Kind::unknown)
        return { "standard output", output.error };
    if (input.status.st_dev == output.status.st_dev && input.status.st_ino == output.status.st_ino)
        return { "input file is output file", 0 };
    return { nullptr, 0 };
}
