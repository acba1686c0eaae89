#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

// Running a program under test with chosen standard streams.

inline constexpr int kClosed = -1;

// In a cross build the programs under test are foreign binaries, started
// through the emulator that CTest names in the environment (VORMEL_EMULATOR).
// Unset or empty, they run natively: in a native build, or in a virtual
// machine of their own CPU. A user-mode emulator runs the guest in its own
// process, so the child's pid is the program's pid.
bool emulated();

// The test suites, by what they need:
//   Vormel, Faults  any vormel, the released static ones included;
//   Rigged          vormel with something of the test build's: the preloaded
//                   fault library or the scripted generator. They skip, saying
//                   so, where VORMEL_UNDER_TEST names a vormel from elsewhere;
//   Kernel          a real kernel of the CPU: the sandbox, stops, waits and
//                   a filter of stat calls. Under a user-mode emulator they
//                   skip, saying this; the test real_kernel runs them;
//   Long            any vormel, for long: a minute of an emulated CPU.
inline constexpr const char* kNeedsTestBuild
    = "rigs the test build's vormel, and VORMEL_UNDER_TEST names another";
inline constexpr const char* kNeedsRealKernel
    = "needs a real kernel, which a user-mode emulator is not: the test real_kernel runs it";

// The vormel under test: the one built beside the tests, or the one that
// VORMEL_UNDER_TEST names, such as a released binary. A released static
// binary may run in a root of its own, with `chroot <root>` as the
// emulator; chroot execs it in its own place, so that is not emulation.
std::string vormel_path();
bool vormel_from_elsewhere();

// Built with AddressSanitizer, whose shadow memory and runtime change what
// the tests see of memory and of leaks.
inline constexpr bool kSanitized = VORMEL_ASAN;

// The command that runs `program`, with `guest_env` (such as LD_PRELOAD) set
// for the program alone, not for an emulator in front of it.
std::vector<std::string> program_command(
    const std::string& program, const std::vector<std::string>& guest_env = {});

// The command that runs `program` with the faults of io_faults.cpp put into
// its I/O calls, as `settings` ("VORMEL_CHAOS_SEED=7", ...) ask.
std::vector<std::string> faulty_command(
    const std::string& program, const std::vector<std::string>& settings);

// Runs `script` with `/bin/sh -c`, the command as its "$@".
std::vector<std::string> shell_command(const char* script, const std::vector<std::string>& command);

// Starts argv[0] (searched for in PATH) with fds[0..2] as its standard streams (kClosed: closed),
// `extra_env` added to the environment and SIGPIPE at its default action.
pid_t spawn(const std::vector<std::string>& argv, std::array<int, 3> fds,
    const std::vector<std::string>& extra_env = {});

// As spawn, without extra environment, under a seccomp filter that answers
// every stat call on standard input or output with EPERM, as some container
// profiles answer statx, the fstat of 32-bit glibc. Not under a user-mode
// emulator, which refuses filters.
pid_t spawn_refusing_stat(const std::vector<std::string>& argv, std::array<int, 3> fds);

// Waits for the child's exit and returns its exit status, or 128 + the signal
// that ended it. A child still running after `seconds` is killed: -1. The
// child's resource use goes to `usage` when given.
int wait_for_exit(pid_t pid, double seconds, rusage* usage = nullptr);

// The number after `field` (such as "VmHWM:") in /proc/<pid>/status, or
// another file of /proc/<pid>, pid 0 meaning this process; -1 when the line
// is not there.
long status_field(pid_t pid, std::string_view field, const char* file = "status");

// Memory files, for standard streams whose bytes the test sets or reads.
int memory_file(std::string_view content = {});
std::string contents(int fd);

// A pipe whose ends only the child they are given to inherits (O_CLOEXEC).
struct Pipe {
    int read_end = -1;
    int write_end = -1;
    Pipe();
};

// Opens with O_CLOEXEC, so that only the child it is given to inherits it.
int open_file(const char* path, int flags);

struct Finished {
    pid_t pid;
    int status;
    std::string out;
    std::string err;
};

// Runs to the end with `input` as standard input and its output collected.
Finished run(const std::vector<std::string>& argv, std::string_view input,
    const std::vector<std::string>& extra_env = {});

// Runs to the end with the given standard input and output (kClosed allowed);
// only standard error is collected.
Finished run_with(
    const std::vector<std::string>& argv, int stdin_fd, int stdout_fd, double seconds = 20);
