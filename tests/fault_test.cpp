// vormel under the faults a filter meets in other people's pipelines: readers
// that go away, failing input, non-blocking descriptors, stops, endless
// lines, and an output file that is its own input.

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "child.h"
#include "reference.h"

namespace {

const std::vector<std::string> vormel = program_command(vormel_path());

// Writing to a child that has gone must fail with EPIPE here, not kill the test.
const bool sigpipe_ignored = [] {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}();

void set_nonblocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Writes `data` in pieces with a pause after each, then closes fd.
std::thread feed(int fd, std::string data, std::size_t piece, std::chrono::microseconds pause)
{
    return std::thread([fd, data = std::move(data), piece, pause] {
        for (std::size_t at = 0; at < data.size(); at += piece) {
            std::size_t size = std::min(piece, data.size() - at);
            for (std::size_t done = 0; done < size;) {
                ssize_t n = write(fd, data.data() + at + done, size - done);
                if (n <= 0)
                    break;
                done += static_cast<std::size_t>(n);
            }
            std::this_thread::sleep_for(pause);
        }
        close(fd);
    });
}

TEST(Faults, AReaderThatGoesAwayEndsVormel)
{
    struct Case {
        const char* name;
        const char* script;
        int status;
        const char* message;
    } const cases[] = {
        { "SIGPIPE at its default action: silent", "yes | exec \"$@\"", 128 + SIGPIPE, "" },
        { "SIGPIPE ignored: reported", "trap '' PIPE; yes 2>/dev/null | exec \"$@\"", 1,
            "vormel: write error: Broken pipe\n" },
    };
    for (const Case& c : cases) {
        Pipe output;
        int err = memory_file();
        pid_t pid = spawn(shell_command(c.script, vormel), { kClosed, output.write_end, err });
        close(output.write_end);
        char first_line[64];
        EXPECT_GT(read(output.read_end, first_line, sizeof first_line), 0) << c.name;
        close(output.read_end);
        EXPECT_EQ(wait_for_exit(pid, 2), c.status) << c.name;
        EXPECT_EQ(contents(err), c.message) << c.name;
        close(err);
    }
}

// The read and write calls of this process and of its children that it has
// reaped.
long read_and_write_calls()
{
    return status_field(0, "syscr:", "io") + status_field(0, "syscw:", "io");
}

// Some parents leave O_NONBLOCK on the descriptors they hand down. vormel
// must wait for them to be ready: neither fail with EAGAIN nor spin. A spin
// shows in its count of reads and writes, which, unlike its CPU time, does
// not depend on how busy or fast the machine or its emulator is.
TEST(Kernel, NonBlockingStreamsAreWaitedOn)
{
    if (emulated())
        GTEST_SKIP() << kNeedsRealKernel;
    struct Case {
        const char* name;
        bool input_nonblocking;
        bool output_nonblocking;
    } const cases[] = {
        { "standard input", true, false },
        { "standard output", false, true },
        { "both", true, true },
    };
    const std::string input = random_lines(1 << 20);
    for (const Case& c : cases) {
        Pipe in;
        Pipe out;
        if (c.input_nonblocking)
            set_nonblocking(in.read_end);
        if (c.output_nonblocking)
            set_nonblocking(out.write_end);
        const long calls_before = read_and_write_calls();
        pid_t pid = spawn(vormel, { in.read_end, out.write_end, 2 });
        close(in.read_end);
        close(out.write_end);
        // Input dribbles in, and nobody reads at first: both ends would block.
        std::thread writer = feed(in.write_end, input, 32 << 10, std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(c.output_nonblocking ? 1000 : 200));
        std::string output = contents(out.read_end);
        close(out.read_end);
        writer.join();
        EXPECT_EQ(wait_for_exit(pid, 10), 0) << c.name;
        // A reaped child's counts join its parent's: /proc/<pid>/io of an
        // ended process is for root alone.
        const long calls = read_and_write_calls() - calls_before;
        EXPECT_TRUE(output == tagged_reference(input, generator_of(pid))) << c.name;
        // About a hundred each way, this test's feeding and draining
        // included: a block of input at a time, and the output as the pipe
        // takes it.
        EXPECT_GT(calls, 0) << c.name << ": no /proc/self/io";
        EXPECT_LT(calls, 2000) << c.name << ": busy-waiting?";
    }
}

// A stop while vormel waits in poll() is resumed by the kernel through
// restart_syscall, which the sandbox must allow as well.
TEST(Kernel, StopsAndContinuesLoseAndDoubleNothing)
{
    if (emulated())
        GTEST_SKIP() << kNeedsRealKernel;
    struct Case {
        const char* name;
        bool input_nonblocking;
        std::size_t piece;
        std::chrono::microseconds pause;
    } const cases[] = {
        { "working or waiting in read", false, 1 << 20, std::chrono::microseconds(0) },
        { "waiting in poll", true, 64 << 10, std::chrono::milliseconds(2) },
    };
    const std::string input = random_lines(16 << 20);
    for (const Case& c : cases) {
        Pipe in;
        Pipe out;
        if (c.input_nonblocking)
            set_nonblocking(in.read_end);
        // LeakSanitizer stops the process's threads at exit to look for
        // leaks. Output ends at the close before that, while the stops still
        // come, and a stop then wedges it.
        std::vector<std::string> env;
        if (kSanitized)
            env.emplace_back("ASAN_OPTIONS=detect_leaks=0");
        pid_t pid = spawn(vormel, { in.read_end, out.write_end, 2 }, env);
        close(in.read_end);
        close(out.write_end);
        std::thread writer = feed(in.write_end, input, c.piece, c.pause);
        std::atomic<bool> running { true };
        std::thread stopper([&] {
            while (running) {
                kill(pid, SIGSTOP);
                std::this_thread::sleep_for(std::chrono::microseconds(500));
                kill(pid, SIGCONT);
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
        std::string output = contents(out.read_end);
        close(out.read_end);
        writer.join();
        running = false;
        stopper.join();
        kill(pid, SIGCONT);
        EXPECT_EQ(wait_for_exit(pid, 10), 0) << c.name;
        EXPECT_TRUE(output == tagged_reference(input, generator_of(pid))) << c.name;
    }
}

TEST(Long, OneEndlessLinePassesInConstantMemory)
{
    const std::size_t kLength = std::size_t(256) << 20;
    Pipe in;
    Pipe out;
    pid_t pid = spawn(vormel, { in.read_end, out.write_end, 2 });
    close(in.read_end);
    close(out.write_end);
    std::thread writer
        = feed(in.write_end, std::string(kLength, 'x'), 1 << 20, std::chrono::microseconds(0));

    // The output must be the line's bytes and one tail: count it as it streams.
    // vormel's own peak is read while it runs: a child's ru_maxrss counts its
    // parent's memory, which it shares until exec.
    std::size_t total = 0;
    std::size_t x_count = 0;
    std::string last;
    long peak_kib = 0;
    char block[65536];
    for (ssize_t n; (n = read(out.read_end, block, sizeof block)) > 0;) {
        peak_kib = std::max(peak_kib, status_field(pid, "VmHWM:"));
        total += static_cast<std::size_t>(n);
        x_count += static_cast<std::size_t>(std::count(block, block + n, 'x'));
        last.append(block, static_cast<std::size_t>(n));
        last.erase(0, last.size() > 10 ? last.size() - 10 : 0);
    }
    close(out.read_end);
    writer.join();
    EXPECT_EQ(wait_for_exit(pid, 30), 0);
    EXPECT_EQ(total, kLength + 10);
    EXPECT_EQ(x_count, kLength);
    EXPECT_EQ(last, tagged_reference("x", generator_of(pid)).substr(1));
    if (emulated())
        GTEST_SKIP() << "peak memory not checked: under emulation it is the emulator's";
    if (kSanitized && !vormel_from_elsewhere())
        GTEST_SKIP() << "peak memory not checked: AddressSanitizer's shadow memory dominates it";
    EXPECT_GT(peak_kib, 0) << "no VmHWM in /proc/" << pid << "/status";
    EXPECT_LT(peak_kib, 4 * 1024) << "peak resident set in KiB";
}

// File systems of the test's own, mounted in a mount namespace of this
// process's own; the test's TemporaryFolder unmounts them.
struct Mounts {
    // a/f and b/g, the first files of two new tmpfs: the same inode number on
    // two devices.
    std::string fresh_tmpfs;
    // An overlay of a/ over b/ with xino, which numbers the files of each
    // layer by its inode number there with the layer's in the top bits: f and
    // g differ only above bit 32, and both numbers are above 2^32.
    std::string overlay;
    std::string why_not; // why either is ""
};

Mounts fresh_mounts(const std::string& under)
{
    Mounts made;
    if (unshare(CLONE_NEWNS) != 0) {
        made.why_not = std::strerror(errno);
        return made;
    }
    // Private, so that nothing mounted here shows outside this process. In a
    // chroot, whose root is no mount point, that cannot be had.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        made.why_not = std::string("mounts cannot be kept private here (a chroot?): ")
            + std::strerror(errno);
        return made;
    }
    for (const char* name : { "/a", "/b", "/layers", "/merged" }) {
        const std::string directory = under + name;
        if (mkdir(directory.c_str(), 0700) != 0
            || (name[1] != 'm'
                && mount("vormel-test", directory.c_str(), "tmpfs", 0, nullptr) != 0)) {
            made.why_not = std::strerror(errno);
            return made;
        }
    }
    close(open_file((under + "/a/f").c_str(), O_WRONLY | O_CREAT));
    close(open_file((under + "/b/g").c_str(), O_WRONLY | O_CREAT));
    made.fresh_tmpfs = under;
    const std::string merged = under + "/merged";
    const std::string options = "lowerdir=" + under + "/a:" + under + "/b,upperdir=" + under
        + "/layers/upper,workdir=" + under + "/layers/work,xino=on";
    if (mkdir((under + "/layers/upper").c_str(), 0700) != 0
        || mkdir((under + "/layers/work").c_str(), 0700) != 0
        || mount("vormel-test", merged.c_str(), "overlay", 0, options.c_str()) != 0) {
        made.why_not = std::strerror(errno);
        return made;
    }
    // A 32-bit kernel has 32-bit inode numbers: it mounts the overlay, but
    // without xino, and then does not list xino among its options.
    int mounts_fd = open_file("/proc/self/mounts", O_RDONLY);
    const std::string mounts = contents(mounts_fd);
    close(mounts_fd);
    const std::size_t line = mounts.find(" " + merged + " overlay ");
    if (line == std::string::npos
        || mounts.substr(line, mounts.find('\n', line) - line).find("xino=on")
            == std::string::npos) {
        made.why_not = "the kernel did not turn xino on, as a 32-bit one cannot";
        return made;
    }
    made.overlay = merged;
    return made;
}

// Removes a test's folder, and unmounts what the test mounted in it, on
// every way out of the test.
struct TemporaryFolder {
    std::string path;
    ~TemporaryFolder()
    {
        for (const char* name : { "/merged", "/layers", "/a", "/b" })
            umount2((path + name).c_str(), MNT_DETACH);
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// `vormel < f >> f` would read its own output back for ever, whatever the
// size, date or inode number of f, and however little is left to read when
// vormel looks: a writer may append just after. `vormel < f > f` has nothing
// left to read; the user is told why. But a device that is only like itself,
// such as a terminal or /dev/null, must not be refused, nor two files that
// share an inode number but not a device, or the low half of one.
TEST(Faults, RefusesAnOutputFileThatIsItsOwnInput)
{
    char made[] = "/tmp/vormel-test-XXXXXX";
    ASSERT_NE(mkdtemp(made), nullptr);
    const TemporaryFolder folder { made };
    const std::string& directory = folder.path;
    const std::string other = directory + "/g";
    const std::string same; // the output is the input's path
    const Mounts mounts = fresh_mounts(directory);
    const std::string overlay_other = mounts.overlay + "/g";
    const std::string tmpfs_other = mounts.fresh_tmpfs + "/b/g";
    const std::string text = "one\ntwo\n";
    const timespec year_2040[] = { { 2208988800, 0 }, { 2208988800, 0 } };
    // A terminal is the input and output of every interactive run.
    const int terminal_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_TRUE(
        terminal_master >= 0 && grantpt(terminal_master) == 0 && unlockpt(terminal_master) == 0);
    const std::string terminal_path = ptsname(terminal_master);

    enum class Input { lines, sparse_5_gib, dated_2040, on_overlay, on_tmpfs, dev_null, terminal };
    struct Case {
        const char* name;
        Input input;
        const std::string& output_path;
        int output_flags;
        bool input_at_end;
        bool refused;
    } const cases[] = {
        { "appending to the input", Input::lines, same, O_WRONLY | O_APPEND, false, true },
        { "writing over the input", Input::lines, same, O_RDWR, false, true },
        { "input already read to its end", Input::lines, same, O_WRONLY | O_APPEND, true, true },
        { "truncating the input first", Input::lines, same, O_WRONLY | O_TRUNC, false, true },
        { "appending to another file", Input::lines, other, O_WRONLY | O_APPEND | O_CREAT, false,
            false },
        { "a sparse file of 5 GiB", Input::sparse_5_gib, same, O_WRONLY | O_APPEND, false, true },
        { "a file dated 2040", Input::dated_2040, same, O_WRONLY | O_APPEND, false, true },
        { "an inode number above 2^32", Input::on_overlay, same, O_WRONLY | O_APPEND, false, true },
        { "inode numbers alike in their low 32 bits", Input::on_overlay, overlay_other,
            O_WRONLY | O_APPEND, false, false },
        { "one inode number on two devices", Input::on_tmpfs, tmpfs_other, O_WRONLY | O_APPEND,
            false, false },
        { "/dev/null both ways", Input::dev_null, same, O_WRONLY, false, false },
        { "a terminal both ways", Input::terminal, same, O_WRONLY, false, false },
    };
    for (const Case& c : cases) {
        if ((c.input == Input::on_overlay && mounts.overlay.empty())
            || (c.input == Input::on_tmpfs && mounts.fresh_tmpfs.empty())) {
            std::printf("skipped: %s: no file systems of the test's own: %s\n", c.name,
                mounts.why_not.c_str());
            continue;
        }
        const bool device = c.input == Input::dev_null || c.input == Input::terminal;
        const std::string input_path = c.input == Input::dev_null ? "/dev/null"
            : c.input == Input::terminal                          ? terminal_path
            : c.input == Input::on_overlay                        ? mounts.overlay + "/f"
            : c.input == Input::on_tmpfs                          ? mounts.fresh_tmpfs + "/a/f"
                                                                  : directory + "/f";
        const std::string& output_path = c.output_path.empty() ? input_path : c.output_path;
        unlink(other.c_str());
        if (!device) {
            int made_fd = open_file(input_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
            ASSERT_EQ(write(made_fd, text.data(), text.size()), ssize_t(text.size()));
            if (c.input == Input::sparse_5_gib) {
                ASSERT_EQ(ftruncate(made_fd, off_t(5) << 30), 0) << std::strerror(errno);
            }
            if (c.input == Input::dated_2040) {
                ASSERT_EQ(futimens(made_fd, year_2040), 0) << std::strerror(errno);
            }
            close(made_fd);
        }
        struct stat before { };
        ASSERT_EQ(stat(input_path.c_str(), &before), 0);
        int in = open_file(input_path.c_str(), O_RDONLY | O_NOCTTY);
        if (c.input_at_end)
            lseek(in, 0, SEEK_END);
        int out = open_file(output_path.c_str(), c.output_flags | O_NOCTTY);
        // The numbers as vormel sees them, after the overlay has copied g up.
        struct stat input_status { };
        struct stat output_status { };
        ASSERT_EQ(fstat(in, &input_status), 0);
        ASSERT_EQ(fstat(out, &output_status), 0);
        const auto input_inode = static_cast<unsigned long long>(input_status.st_ino);
        const auto output_inode = static_cast<unsigned long long>(output_status.st_ino);
        if (c.input == Input::on_overlay) {
            EXPECT_GT(input_inode, 0xffffffffu) << c.name;
        }
        if (&c.output_path == &overlay_other) {
            EXPECT_TRUE(input_status.st_dev == output_status.st_dev && input_inode != output_inode
                && std::uint32_t(input_inode) == std::uint32_t(output_inode))
                << c.name << ": " << std::hex << input_inode << ", " << output_inode;
        }
        if (&c.output_path == &tmpfs_other) {
            EXPECT_TRUE(input_status.st_dev != output_status.st_dev && input_inode == output_inode)
                << c.name << ": " << input_inode << ", " << output_inode;
        }
        // A build that failed to refuse would fill the disk: a limit on the
        // size of files stops it first.
        rlimit unbounded {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &unbounded), 0);
        const rlimit bounded { rlim_t(before.st_size) + (1 << 20), unbounded.rlim_max };
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &bounded), 0) << std::strerror(errno);
        if (c.input == Input::terminal) {
            ASSERT_EQ(write(terminal_master, "\x04", 1), 1) << "end of input, typed";
        }
        Finished r = run_with(vormel, in, out, 5);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &unbounded), 0);
        close(in);
        close(out);
        EXPECT_EQ(r.status, c.refused ? 1 : 0) << c.name;
        EXPECT_EQ(r.err, c.refused ? "vormel: input file is output file\n" : "") << c.name;
        struct stat after { };
        ASSERT_EQ(stat(input_path.c_str(), &after), 0);
        EXPECT_EQ(after.st_size, c.output_flags & O_TRUNC ? 0 : before.st_size) << c.name;
    }
    close(terminal_master);
}

// A stream that cannot be examined is no proof that input and output differ,
// unless one end is known to be no regular file: a stream that cannot seek.
enum class End { file, pipe, input_file };
struct Unexaminable {
    const char* name;
    End input;
    End output;
    const char* refusal; // nullptr: the line is tagged
};

// Runs vormel, started by `start` on the ends that `c` names, over one line.
template <typename Start> void expect_judged(const Unexaminable& c, Start start)
{
    const std::string line = "a\n";
    Pipe input_pipe;
    Pipe output_pipe;
    ASSERT_EQ(write(input_pipe.write_end, line.data(), line.size()), ssize_t(line.size()));
    close(input_pipe.write_end);
    const int in = c.input == End::pipe ? input_pipe.read_end : memory_file(line);
    const int out = c.output == End::pipe ? output_pipe.write_end
        : c.output == End::file
        ? memory_file()
        : open_file(("/proc/self/fd/" + std::to_string(in)).c_str(), O_WRONLY | O_APPEND);
    const int err = memory_file();
    // A vormel that failed to refuse would grow the file without end.
    rlimit unbounded {};
    getrlimit(RLIMIT_FSIZE, &unbounded);
    const rlimit bounded { 1 << 20, unbounded.rlim_max };
    setrlimit(RLIMIT_FSIZE, &bounded);
    const pid_t pid = start({ in, out, err });
    setrlimit(RLIMIT_FSIZE, &unbounded);
    close(output_pipe.write_end);
    const int status = wait_for_exit(pid, 20);
    const std::string written = c.output == End::pipe ? contents(output_pipe.read_end)
        : c.output == End::file                       ? contents(out)
                                                      : contents(in).substr(line.size());
    if (c.refusal != nullptr) {
        EXPECT_EQ(status, 1) << c.name;
        EXPECT_EQ(contents(err), "vormel: " + std::string(c.refusal) + "\n") << c.name;
        EXPECT_EQ(written, "") << c.name;
    } else {
        EXPECT_EQ(status, 0) << c.name;
        EXPECT_EQ(contents(err), "") << c.name;
        EXPECT_EQ(written, tagged_reference(line, generator_of(pid))) << c.name;
    }
    close(err);
    close(input_pipe.read_end);
    close(output_pipe.read_end);
    if (c.input != End::pipe)
        close(in);
    if (c.output != End::pipe)
        close(out);
}

TEST(Rigged, RefusesStreamsThatCannotBeExamined)
{
    if (vormel_from_elsewhere())
        GTEST_SKIP() << kNeedsTestBuild;
    const std::string input_io = "VORMEL_FSTAT_ERROR=0:" + std::to_string(EIO);
    const std::string output_io = "VORMEL_FSTAT_ERROR=1:" + std::to_string(EIO);
    const std::string output_overflow = "VORMEL_FSTAT_ERROR=1:" + std::to_string(EOVERFLOW);
    const struct {
        const std::string& fault;
        Unexaminable c;
    } cases[] = {
        { input_io, { "two files", End::file, End::file, "standard input: Input/output error" } },
        { output_overflow,
            { "two files", End::file, End::file,
                "standard output: Value too large for defined data type" } },
        { input_io,
            { "the same file", End::file, End::input_file, "standard input: Input/output error" } },
        { output_io,
            { "the same file", End::file, End::input_file,
                "standard output: Input/output error" } },
        { input_io, { "a pipe into a file", End::pipe, End::file, nullptr } },
        { output_io, { "a pipe into a file", End::pipe, End::file, nullptr } },
        { input_io, { "a file into a pipe", End::file, End::pipe, nullptr } },
        { output_io, { "a file into a pipe", End::file, End::pipe, nullptr } },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.fault);
        expect_judged(row.c, [&](std::array<int, 3> fds) {
            return spawn(faulty_command(vormel_path(), { row.fault }), fds);
        });
    }
    // Where seeking is refused too, the file may still be regular: refused.
    expect_judged({ "the same file, fstat and lseek refused", End::file, End::input_file,
                      "standard input: Operation not permitted" },
        [](std::array<int, 3> fds) {
            return spawn(faulty_command(vormel_path(),
                             { "VORMEL_FSTAT_ERROR=0:" + std::to_string(EPERM),
                                 "VORMEL_LSEEK_ERROR=0:" + std::to_string(EPERM) }),
                fds);
        });
}

// Without the preloaded library: a static vormel meets this too.
TEST(Kernel, JudgesStreamsWhoseStatIsRefused)
{
    if (emulated())
        GTEST_SKIP() << kNeedsRealKernel;
    const Unexaminable cases[] = {
        { "a pipe into a pipe", End::pipe, End::pipe, nullptr },
        { "a file into a pipe", End::file, End::pipe, nullptr },
        { "the same file", End::file, End::input_file, "standard input: Operation not permitted" },
    };
    for (const Unexaminable& c : cases)
        expect_judged(c, [](std::array<int, 3> fds) { return spawn_refusing_stat(vormel, fds); });
}

} // namespace
