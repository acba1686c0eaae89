#include "output.h"

#include <unistd.h>

#include "fd_io.h"

namespace {
char storage[kStandardOutputSize];
// constinit: nothing to set up at start, and no guard code on every use.
constinit OutputBuffer standard_output_buffer(STDOUT_FILENO, storage);
} // namespace

bool OutputBuffer::flush()
{
    bool written = write_all(fd_, pending());
    discard();
    return written;
}

OutputBuffer& standard_output()
{
    return standard_output_buffer;
}
