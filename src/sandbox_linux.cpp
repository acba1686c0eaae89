// The sandbox on Linux: a seccomp-bpf filter that allows a short list of
// system calls, some only on the standard descriptors, and kills the process
// on any other.

#include "sandbox.h"

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace {

// The filter sees the calling convention of the architecture it was built
// for; a call made through another (x32, a 32-bit compat entry) has other
// numbers, so it is refused whole.
#if defined(__x86_64__)
constexpr std::uint32_t kArchitecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kArchitecture = AUDIT_ARCH_AARCH64;
#elif defined(__s390x__)
constexpr std::uint32_t kArchitecture = AUDIT_ARCH_S390X;
#else
#error "no seccomp filter for this architecture: configure with -DVORMEL_SANDBOX=OFF"
#endif

constexpr std::uint32_t kNumber = offsetof(seccomp_data, nr);
// The descriptor arguments are C ints, which the kernel takes from the low
// 32 bits of the 64-bit argument.
constexpr std::uint32_t kFirstArgument
    = offsetof(seccomp_data, args[0]) + (std::endian::native == std::endian::big ? 4 : 0);

struct Filter {
    std::array<sock_filter, 64> code {};
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

    // Allows `call` when its first argument is `fd`; leaves the call's number
    // loaded for what follows either way.
    constexpr void allow_on(int call, int fd)
    {
        unless_equal(static_cast<std::uint32_t>(call), 4);
        load(kFirstArgument);
        unless_equal(static_cast<std::uint32_t>(fd), 1);
        ret(SECCOMP_RET_ALLOW);
        load(kNumber);
    }
};

constexpr Filter make_filter()
{
    Filter filter;
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
    // Descriptors left non-blocking are waited on; aarch64 has only ppoll.
#if defined(SYS_poll)
    filter.allow(SYS_poll);
#endif
    filter.allow(SYS_ppoll);
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
    filter.allow(SYS_restart_syscall);
    filter.ret(SECCOMP_RET_KILL_PROCESS);
    return filter;
}

constexpr Filter kFilter = make_filter();

} // namespace

void enter_sandbox()
{
    // The kernel wants a writable program; it copies it before returning.
    std::array<sock_filter, kFilter.code.size()> code = kFilter.code;
    sock_fprog program { static_cast<unsigned short>(kFilter.size), code.data() };
    // Without this, an unprivileged process may not install a filter.
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return;
    prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program);
}
