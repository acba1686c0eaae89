// Preloaded into the program under test (LD_PRELOAD), it puts faults into
// the I/O calls the program makes, as the environment tells it:
//
//   VORMEL_CHAOS_SEED=n     read() on fd 0 and write() on fd 1 fail with EINTR
//                           or EAGAIN, or do only part of the work, at random
//                           from seed n; other calls pass untouched;
//   VORMEL_CLOSE_ERROR=n    close() on fd 1 closes it and then fails with errno n;
//   VORMEL_FORBIDDEN_OPEN=p the first read() tries to open p and says on
//                           standard error if that succeeded.
//
// The real calls are made with syscall(), which needs no lookup of the next
// definition and is what the program's own call would have done.

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

long setting(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? 0 : std::strtol(value, nullptr, 10);
}

const long close_error = setting("VORMEL_CLOSE_ERROR");
const char* forbidden_path = std::getenv("VORMEL_FORBIDDEN_OPEN");
std::uint64_t chaos = static_cast<std::uint64_t>(setting("VORMEL_CHAOS_SEED"));

// xorshift64: never 0 once started from a non-zero state.
std::uint64_t next_random()
{
    chaos ^= chaos << 13;
    chaos ^= chaos >> 7;
    chaos ^= chaos << 17;
    return chaos;
}

// What one call suffers: false with errno set if it is to fail at once, else
// true with `count` perhaps shortened.
bool survives(std::size_t& count)
{
    if (chaos == 0 || count == 0)
        return true;
    switch (next_random() % 4) {
    case 0:
        errno = EINTR;
        return false;
    case 1:
        errno = EAGAIN;
        return false;
    case 2:
        count = 1 + next_random() % count;
        return true;
    default:
        return true;
    }
}

void try_forbidden_open()
{
    const char* path = forbidden_path;
    forbidden_path = nullptr;
    int fd = open(path, O_RDONLY);
    if (fd >= 0) {
        const char message[] = "forbidden open succeeded\n";
        syscall(SYS_write, 2, message, sizeof message - 1);
        syscall(SYS_close, fd);
    }
}

} // namespace

extern "C" ssize_t read(int fd, void* buffer, std::size_t count)
{
    if (forbidden_path != nullptr)
        try_forbidden_open();
    if (fd == 0 && !survives(count))
        return -1;
    return syscall(SYS_read, fd, buffer, count);
}

extern "C" ssize_t write(int fd, const void* buffer, std::size_t count)
{
    if (fd == 1 && !survives(count))
        return -1;
    return syscall(SYS_write, fd, buffer, count);
}

extern "C" int close(int fd)
{
    long result = syscall(SYS_close, fd);
    if (fd == 1 && close_error != 0 && result == 0) {
        errno = static_cast<int>(close_error);
        return -1;
    }
    return static_cast<int>(result);
}
