// The sandbox on Linux: a seccomp-bpf filter that allows a short list of
// system calls, some only on the standard descriptors, and answers any other
// with ENOSYS, as a kernel without that call would.
//
// Not killing is deliberate. C libraries change which calls they make inside
// (glibc 2.41's strerror allocates; abort maps a page for its message), and
// they fall back from ENOSYS as they do on an older kernel. A call that gets
// it still does nothing: no file is opened, no memory mapped.

#include "sandbox.h"
#include "seccomp_architecture.h"

#include <asm/unistd.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace {

// The filter is written for the calling convention this program is compiled
// for (seccomp_architecture.h); make_filter refuses every other. The build
// turns the sandbox on only where this compiles, and each CPU here has passed
// the suite under a real kernel.
constexpr std::uint32_t kArchitecture = kSeccompArchitecture;
static_assert(kArchitecture != 0,
    "no seccomp filter for this architecture: configure with -DVORMEL_SANDBOX=OFF");

constexpr std::uint32_t kNumber = offsetof(seccomp_data, nr);

// The low 32 bits of a 64-bit argument: the kernel takes C int arguments
// (descriptors, signals) from them.
constexpr std::uint32_t argument(std::uint32_t index)
{
    return static_cast<std::uint32_t>(offsetof(seccomp_data, args) + 8 * index)
        + (std::endian::native == std::endian::big ? 4 : 0);
}

constexpr std::uint32_t kRefuse = SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA);

struct Filter {
    std::array<sock_filter, 96> code {};
    std::size_t size = 0;

    constexpr void put(sock_filter instruction) { code[size++] = instruction; }

    constexpr void load(std::uint32_t offset) { put(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset)); }

    constexpr void ret(std::uint32_t action) { put(BPF_STMT(BPF_RET | BPF_K, action)); }

    // Jumps over the next `skip` instructions unless the loaded word is `value`.
    constexpr void unless_equal(std::uint32_t value, std::uint8_t skip)
    {
        put(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 0, skip));
    }

    constexpr void allow(int call)
    {
        unless_equal(static_cast<std::uint32_t>(call), 1);
        ret(SECCOMP_RET_ALLOW);
    }

    struct Argument {
        std::uint32_t index;
        int value;
    };

    // Allows `call` when each of `arguments` has its value; leaves the call's
    // number loaded for what follows either way.
    constexpr void allow_when(int call, std::initializer_list<Argument> arguments)
    {
        // Each argument takes a load and a test, then come the allow and the
        // reload of the number: a failed argument test lands on the reload,
        // another call skips it, its number still loaded.
        auto left = static_cast<std::uint8_t>(2 * arguments.size());
        unless_equal(static_cast<std::uint32_t>(call), static_cast<std::uint8_t>(left + 2));
        for (const Argument& condition : arguments) {
            load(argument(condition.index));
            left = static_cast<std::uint8_t>(left - 2);
            unless_equal(
                static_cast<std::uint32_t>(condition.value), static_cast<std::uint8_t>(left + 1));
        }
        ret(SECCOMP_RET_ALLOW);
        load(kNumber);
    }

    constexpr void allow_on(int call, int fd) { allow_when(call, { { 0, fd } }); }
};

constexpr Filter make_filter(int self)
{
    Filter filter;
    // A call through another calling convention (x32, a 32-bit compat entry)
    // has other numbers, which the list below would misread. No C library of
    // this build makes one: that is an attack, and it ends the process.
    filter.load(offsetof(seccomp_data, arch));
    filter.put(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArchitecture, 1, 0));
    filter.ret(SECCOMP_RET_KILL_PROCESS);
    filter.load(kNumber);
#if defined(__x86_64__)
    // x32 calls share the architecture but set this bit in the number.
    filter.put(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, __X32_SYSCALL_BIT, 0, 1));
    filter.ret(SECCOMP_RET_KILL_PROCESS);
#endif
    filter.allow_on(SYS_read, 0);
    filter.allow_on(SYS_write, 1);
    filter.allow_on(SYS_write, 2);
    // Descriptors left non-blocking are waited on; aarch64 has only ppoll,
    // and 32-bit CPUs with 64-bit time call its time64 form.
#if defined(SYS_poll)
    filter.allow(SYS_poll);
#endif
    filter.allow(SYS_ppoll);
#if defined(SYS_ppoll_time64)
    filter.allow(SYS_ppoll_time64);
#endif
    // The first line's seed.
    filter.allow(SYS_getpid);
    // Standard output is closed at the end, to catch a write error that some
    // file systems report only then.
    filter.allow_on(SYS_close, 1);
    filter.allow(SYS_exit_group);
    filter.allow(SYS_exit);
    // The kernel's own: the return from a signal, and the resumption of a
    // poll that a stop signal interrupted.
    filter.allow(SYS_rt_sigreturn);
#if defined(SYS_sigreturn)
    filter.allow(SYS_sigreturn);
#endif
    filter.allow(SYS_restart_syscall);
    // What the C library does when it finds a fault itself (a fortify or
    // stack-protector check, an assert): its message on standard error, then
    // SIGABRT to this process, unblocked and, if a parent left it ignored,
    // set back to its default action.
    filter.allow_on(SYS_writev, 2);
    filter.allow(SYS_rt_sigprocmask);
    filter.allow_when(SYS_rt_sigaction, { { 0, SIGABRT } });
    filter.allow(SYS_gettid);
    filter.allow_when(SYS_tgkill, { { 0, self }, { 2, SIGABRT } });
    filter.ret(kRefuse);
    return filter;
}

// Built at compile time once, so that a list outgrowing `code` fails the build.
static_assert(make_filter(1).size <= make_filter(1).code.size());

} // namespace

void enter_sandbox()
{
    Filter filter = make_filter(getpid());
    sock_fprog program { static_cast<unsigned short>(filter.size), filter.code.data() };
    // Without this, an unprivileged process may not install a filter.
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return;
    prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program);
}
