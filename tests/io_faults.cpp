// Preloaded into the program under test (LD_PRELOAD), it puts faults into
// the I/O calls the program makes, as the environment tells it:
//
//   VORMEL_CHAOS_SEED=n     read() on fd 0 and write() on fd 1 fail with EINTR
//                           or EAGAIN, or do only part of the work, at random
//                           from seed n; other calls pass untouched;
//   VORMEL_CLOSE_ERROR=n    close() on fd 1 closes it and then fails with errno n;
//   VORMEL_FORBIDDEN_OPEN=p the first read() tries to open p, and to read and
//                           write a descriptor that the program does not use,
//                           and says on standard error how each ended, unless
//                           it failed with ENOSYS;
//   VORMEL_NEWER_LIBC=1     before each write() on fd 1, makes calls that a
//                           newer C library might make inside: getrandom, an
//                           anonymous mmap, an openat of "/", a membarrier
//                           query; their results are ignored;
//   VORMEL_CHK_FAIL=1       the first write() on fd 1 fails a fortify check,
//                           as an overflowing copy in the program would;
//   VORMEL_FSTAT_ERROR=f:n  fstat() on fd f fails with errno n, as on a file
//                           that the C library cannot describe or a network
//                           file system that has gone away;
//   VORMEL_LSEEK_ERROR=f:n  lseek() on fd f fails with errno n, as under a
//                           container filter that refuses it;
//   VORMEL_WRITE_ZERO=1     write() on fd 1 writes nothing and returns 0.
//
// The real calls are made with syscall(), which needs no lookup of the next
// definition and is what the program's own call would have done.

// It defines read() and write() itself, which the checked inline versions of
// a fortified build would clash with.
#undef _FORTIFY_SOURCE

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/membarrier.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

long setting(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? 0 : std::strtol(value, nullptr, 10);
}

const long close_error = setting("VORMEL_CLOSE_ERROR");
const char* forbidden_path = std::getenv("VORMEL_FORBIDDEN_OPEN");
const bool newer_libc = setting("VORMEL_NEWER_LIBC") != 0;
const bool chk_fail = setting("VORMEL_CHK_FAIL") != 0;
const bool write_zero = setting("VORMEL_WRITE_ZERO") != 0;
std::uint64_t chaos = static_cast<std::uint64_t>(setting("VORMEL_CHAOS_SEED"));

// A call on one descriptor that fails with one errno: "fd:errno".
struct CallError {
    long fd = -1;
    long error = 0;

    bool fails(int on) const
    {
        if (on != fd || error == 0)
            return false;
        errno = static_cast<int>(error);
        return true;
    }
};
CallError call_error(const char* name)
{
    CallError fault;
    if (const char* value = std::getenv(name)) {
        char* rest = nullptr;
        fault.fd = std::strtol(value, &rest, 10);
        fault.error = *rest == ':' ? std::strtol(rest + 1, nullptr, 10) : 0;
    }
    return fault;
}
const CallError fstat_error = call_error("VORMEL_FSTAT_ERROR");
const CallError lseek_error = call_error("VORMEL_LSEEK_ERROR");

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

void say(const char* text)
{
    syscall(SYS_write, 2, text, std::strlen(text));
}

void try_forbidden_calls()
{
    const char* path = forbidden_path;
    forbidden_path = nullptr;
    int fd = open(path, O_RDONLY);
    if (fd >= 0) {
        say("forbidden open succeeded\n");
        syscall(SYS_close, fd);
    } else if (errno != ENOSYS) {
        say("forbidden open failed, but not with ENOSYS\n");
    }
    // The calls the program makes, on a descriptor it must not touch; of no
    // bytes, so that where one is open, nothing happens to it.
    char byte = 0;
    for (long call : { SYS_read, SYS_write })
        if (syscall(call, 99, &byte, 0) >= 0 || errno != ENOSYS)
            say("a read or write of another descriptor did not fail with ENOSYS\n");
}

void call_as_a_newer_libc()
{
    char random[8];
    syscall(SYS_getrandom, random, sizeof random, 0);
    void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page != MAP_FAILED)
        munmap(page, 4096);
    long fd = syscall(SYS_openat, AT_FDCWD, "/", O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
        syscall(SYS_close, fd);
    syscall(SYS_membarrier, MEMBARRIER_CMD_QUERY, 0);
}

} // namespace

extern "C" ssize_t read(int fd, void* buffer, std::size_t count)
{
    if (forbidden_path != nullptr)
        try_forbidden_calls();
    if (fd == 0 && !survives(count))
        return -1;
    return syscall(SYS_read, fd, buffer, count);
}

extern "C" [[noreturn]] void __chk_fail();

extern "C" ssize_t write(int fd, const void* buffer, std::size_t count)
{
    if (fd == 1 && newer_libc)
        call_as_a_newer_libc();
    if (fd == 1 && chk_fail)
        __chk_fail();
    if (fd == 1 && write_zero)
        return 0;
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

// The C library names its fstat by version and type widths: fstat, fstat64,
// or __fstat64_time64 for 64-bit times on a 32-bit CPU. The real one is
// looked up by name, as a system call cannot stand in for it: the layout of
// the buffer is the C library's own.
namespace {

int fstat_by(const char* name, int fd, void* status)
{
    if (fstat_error.fails(fd))
        return -1;
    auto real = reinterpret_cast<int (*)(int, void*)>(dlsym(RTLD_NEXT, name));
    return real(fd, status);
}

template <typename Offset> Offset lseek_by(const char* name, int fd, Offset offset, int whence)
{
    if (lseek_error.fails(fd))
        return -1;
    auto real = reinterpret_cast<Offset (*)(int, Offset, int)>(dlsym(RTLD_NEXT, name));
    return real(fd, offset, whence);
}

} // namespace

extern "C" int fstat(int fd, void* status)
{
    return fstat_by("fstat", fd, status);
}

extern "C" int fstat64(int fd, void* status)
{
    return fstat_by("fstat64", fd, status);
}

extern "C" int __fstat64_time64(int fd, void* status)
{
    return fstat_by("__fstat64_time64", fd, status);
}

// By their symbols: the headers may have renamed lseek to lseek64. The
// plain one takes a long, the other a 64-bit offset.
extern "C" long lseek_plain(int fd, long offset, int whence) __asm__("lseek");
extern "C" long lseek_plain(int fd, long offset, int whence)
{
    return lseek_by("lseek", fd, offset, whence);
}

extern "C" long long lseek_wide(int fd, long long offset, int whence) __asm__("lseek64");
extern "C" long long lseek_wide(int fd, long long offset, int whence)
{
    return lseek_by("lseek64", fd, offset, whence);
}
