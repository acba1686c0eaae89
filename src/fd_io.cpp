#include "fd_io.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool would_block(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK;
}

// Waits until fd is ready for `events`. An error or hang-up also ends the
// wait: the next read or write then reports it.
bool wait_until_ready(int fd, short events)
{
    pollfd entry { fd, events, 0 };
    for (;;) {
        if (poll(&entry, 1, -1) >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

} // namespace

ssize_t read_some(int fd, std::span<char> buffer)
{
    for (;;) {
        ssize_t count = read(fd, buffer.data(), buffer.size());
        if (count >= 0)
            return count;
        if (errno == EINTR)
            continue;
        if (!would_block(errno) || !wait_until_ready(fd, POLLIN))
            return -1;
    }
}

bool write_all(int fd, std::span<const char> data)
{
    while (!data.empty()) {
        ssize_t count = write(fd, data.data(), data.size());
        if (count > 0) {
            data = data.subspan(static_cast<std::size_t>(count));
            continue;
        }
        if (count == 0) {
            // No progress and no reason given: treat it as a full device
            // rather than loop for ever.
            errno = ENOSPC;
            return false;
        }
        if (errno == EINTR)
            continue;
        if (!would_block(errno) || !wait_until_ready(fd, POLLOUT))
            return false;
    }
    return true;
}
