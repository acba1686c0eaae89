#include "child.h"

#include "seccomp_architecture.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

std::vector<char*> pointers_to(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// The words of the emulator command, none when the programs run natively.
std::vector<std::string> emulator_command()
{
    const char* variable = std::getenv("VORMEL_EMULATOR");
    std::istringstream emulator(variable != nullptr ? variable : "");
    std::vector<std::string> words;
    for (std::string word; emulator >> word;)
        words.push_back(word);
    return words;
}

} // namespace

bool emulated()
{
    std::vector<std::string> emulator = emulator_command();
    return !emulator.empty() && emulator[0] != "chroot";
}

bool vormel_from_elsewhere()
{
    const char* chosen = std::getenv("VORMEL_UNDER_TEST");
    return chosen != nullptr && *chosen != '\0';
}

std::string vormel_path()
{
    return vormel_from_elsewhere() ? std::getenv("VORMEL_UNDER_TEST") : VORMEL_PATH;
}

std::vector<std::string> program_command(
    const std::string& program, const std::vector<std::string>& guest_env)
{
    std::vector<std::string> argv = emulator_command();
    if (!argv.empty()) {
        for (const std::string& variable : guest_env)
            argv.insert(argv.end(), { "-E", variable });
    } else if (!guest_env.empty()) {
        // env execs the program in its own place, so the pid stays the child's.
        argv.push_back("/usr/bin/env");
        argv.insert(argv.end(), guest_env.begin(), guest_env.end());
    }
    argv.push_back(program);
    return argv;
}

std::vector<std::string> faulty_command(
    const std::string& program, const std::vector<std::string>& settings)
{
    std::vector<std::string> env { std::string("LD_PRELOAD=") + IO_FAULTS_PATH };
    // AddressSanitizer insists on coming first, ahead of any preload.
    if (kSanitized)
        env.emplace_back("ASAN_OPTIONS=verify_asan_link_order=0");
    env.insert(env.end(), settings.begin(), settings.end());
    return program_command(program, env);
}

std::vector<std::string> shell_command(const char* script, const std::vector<std::string>& command)
{
    std::vector<std::string> argv { "/bin/sh", "-c", script, "sh" };
    argv.insert(argv.end(), command.begin(), command.end());
    return argv;
}

pid_t spawn(const std::vector<std::string>& argv, std::array<int, 3> fds,
    const std::vector<std::string>& extra_env)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int target = 0; target < 3; ++target) {
        int fd = fds[static_cast<std::size_t>(target)];
        if (fd == kClosed)
            posix_spawn_file_actions_addclose(&actions, target);
        else
            posix_spawn_file_actions_adddup2(&actions, fd, target);
    }
    // Tests ignore SIGPIPE for themselves; the child must not inherit that.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t default_signals;
    sigemptyset(&default_signals);
    sigaddset(&default_signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &default_signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> args = argv;
    std::vector<std::string> env = extra_env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    pid_t pid = -1;
    int err = posix_spawnp(&pid, args[0].c_str(), &actions, &attributes, pointers_to(args).data(),
        pointers_to(env).data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (err != 0)
        std::abort();
    return pid;
}

pid_t spawn_refusing_stat(const std::vector<std::string>& argv, std::array<int, 3> fds)
{
    const std::vector<unsigned> calls {
#ifdef __NR_fstat
        __NR_fstat,
#endif
#ifdef __NR_fstat64
        __NR_fstat64,
#endif
#ifdef __NR_newfstatat
        __NR_newfstatat,
#endif
#ifdef __NR_fstatat64
        __NR_fstatat64,
#endif
        __NR_statx,
    };
    // Each takes the descriptor first. Others are left alone: the dynamic
    // loader must still stat the libraries it maps.
    const unsigned first_argument_low_half
        = offsetof(seccomp_data, args) + (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 4 : 0);
    const auto n = static_cast<unsigned char>(calls.size());
    // Only calls of this ABI: `chroot` in front of a vormel of another has
    // other numbers for its calls.
    std::vector<sock_filter> filter {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kSeccompArchitecture, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    };
    for (unsigned char i = 0; i < n; ++i)
        filter.push_back(
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, calls[i], static_cast<unsigned char>(n - i), 0));
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, first_argument_low_half));
    filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, STDIN_FILENO, 2, 0));
    filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, STDOUT_FILENO, 1, 0));
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM));
    const sock_fprog program { static_cast<unsigned short>(filter.size()), filter.data() };
    std::vector<std::string> args = argv;
    std::vector<char*> pointers = pointers_to(args);
    // Between fork and exec, no call that takes a lock or allocates: the
    // tests have threads. glibc's execvp searches PATH on the stack.
    pid_t pid = fork();
    if (pid == 0) {
        for (int target = 0; target < 3; ++target)
            dup2(fds[static_cast<std::size_t>(target)], target);
        signal(SIGPIPE, SIG_DFL);
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
            && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0)
            execvp(pointers[0], pointers.data());
        _exit(127);
    }
    if (pid < 0)
        std::abort();
    return pid;
}

int wait_for_exit(pid_t pid, double seconds, rusage* usage)
{
    rusage ignored {};
    if (usage == nullptr)
        usage = &ignored;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    for (;;) {
        pid_t done = wait4(pid, &status, WNOHANG, usage);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, usage);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

long status_field(pid_t pid, std::string_view field, const char* file)
{
    std::ifstream status(
        "/proc/" + (pid == 0 ? std::string("self") : std::to_string(pid)) + "/" + file);
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field))
            return std::strtol(line.c_str() + field.size(), nullptr, 10);
    return -1;
}

int memory_file(std::string_view content)
{
    int fd = memfd_create("vormel-test", MFD_CLOEXEC);
    if (fd < 0 || write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
        std::abort();
    lseek(fd, 0, SEEK_SET);
    return fd;
}

std::string contents(int fd)
{
    std::string all;
    char block[65536];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, block, sizeof block)) > 0;)
        all.append(block, static_cast<std::size_t>(n));
    return all;
}

Pipe::Pipe()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        std::abort();
    read_end = fds[0];
    write_end = fds[1];
}

int open_file(const char* path, int flags)
{
    int fd = open(path, flags | O_CLOEXEC, 0644);
    if (fd < 0)
        std::abort();
    return fd;
}

Finished run(const std::vector<std::string>& argv, std::string_view input,
    const std::vector<std::string>& extra_env)
{
    int in = memory_file(input);
    int out = memory_file();
    int err = memory_file();
    Finished result {};
    result.pid = spawn(argv, { in, out, err }, extra_env);
    result.status = wait_for_exit(result.pid, 20);
    result.out = contents(out);
    result.err = contents(err);
    close(in);
    close(out);
    close(err);
    return result;
}

Finished run_with(const std::vector<std::string>& argv, int stdin_fd, int stdout_fd, double seconds)
{
    int err = memory_file();
    Finished result {};
    result.pid = spawn(argv, { stdin_fd, stdout_fd, err });
    result.status = wait_for_exit(result.pid, seconds);
    result.err = contents(err);
    close(err);
    return result;
}
