#include "same_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

// With a 32-bit off_t, ino_t or time_t, fstat fails with EOVERFLOW on a file
// over 2 GiB, with an inode number above 2^32 or dated after January 2038,
// and the check below could tell nothing of such a file.
static_assert(sizeof(off_t) >= 8, "build with _FILE_OFFSET_BITS=64");
static_assert(sizeof(ino_t) >= 8, "build with _FILE_OFFSET_BITS=64");
static_assert(sizeof(time_t) >= 8, "build with _TIME_BITS=64");

namespace {

constexpr StreamCheck kMayCopy { nullptr, 0 };

// False, with errno set, where the descriptor cannot be examined; a closed
// one comes back as a kind of file that matches no other.
bool examine(int fd, struct stat& status)
{
    if (fstat(fd, &status) == 0)
        return true;
    if (errno != EBADF)
        return false;
    status = {};
    return true;
}

} // namespace

StreamCheck check_input_against_output(int input_fd, int output_fd)
{
    struct stat input;
    struct stat output;
    if (!examine(input_fd, input))
        return { "standard input", errno };
    if (!examine(output_fd, output))
        return { "standard output", errno };
    if (!S_ISREG(input.st_mode) || input.st_dev != output.st_dev || input.st_ino != output.st_ino)
        return kMayCopy;
    off_t position = lseek(input_fd, 0, SEEK_CUR);
    if (position < 0)
        return { "standard input", errno };
    if (position < input.st_size)
        return { "input file is output file", 0 };
    return kMayCopy;
}
