#include "output.h"

#include <unistd.h>

#include <cerrno>

#include "fd_io.h"

namespace {
char storage[kStandardOutputSize];
// constinit: nothing to set up at start, and no guard code on every use.
constinit OutputBuffer standard_output_buffer(STDOUT_FILENO, storage);
} // namespace

bool OutputBuffer::flush()
{
    wrote_ |= !pending().empty();
    bool written = write_all(fd_, pending());
    discard();
    return written;
}

bool OutputBuffer::close()
{
    if (::close(fd_) == 0)
        return true;
    return errno == EBADF && !wrote_;
}

OutputBuffer& standard_output()
{
    return standard_output_buffer;
}
