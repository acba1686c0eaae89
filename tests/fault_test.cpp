// vormel under the faults a filter meets in other people's pipelines: readers
// that go away, failing input, non-blocking descriptors, stops, endless
// lines, and an output file that is its own input.

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

std::string drain(int fd)
{
    std::string all;
    char block[65536];
    for (ssize_t n; (n = read(fd, block, sizeof block)) > 0;)
        all.append(block, static_cast<std::size_t>(n));
    close(fd);
    return all;
}

std::string lines(std::size_t bytes)
{
    std::string text;
    Rand15 random { 11 };
    while (text.size() < bytes) {
        text.append(static_cast<std::size_t>(random.draw() % 80),
            static_cast<char>('a' + random.draw() % 26));
        text += '\n';
    }
    return text;
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

// A Unix socket whose peer closes with data unread fails the next read with
// ECONNRESET, after everything that was sent: a read error in mid-stream.
TEST(Faults, AReadErrorComesAfterEverythingReadBeforeIt)
{
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    const std::string sent = "first\nsecond\npartial";
    ASSERT_EQ(write(ends[1], sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    ASSERT_EQ(write(ends[0], "x", 1), 1);
    close(ends[1]);

    int out = memory_file();
    int err = memory_file();
    pid_t pid = spawn(vormel, { ends[0], out, err });
    close(ends[0]);
    EXPECT_EQ(wait_for_exit(pid, 5), 1);
    EXPECT_EQ(contents(out), tagged_reference(sent, generator_of(pid)));
    EXPECT_EQ(contents(err), "vormel: read error: Connection reset by peer\n");
    close(out);
    close(err);
}

// Some parents leave O_NONBLOCK on the descriptors they hand down. vormel
// must wait for them to be ready: neither fail with EAGAIN nor spin.
TEST(Faults, NonBlockingStreamsAreWaitedOn)
{
    struct Case {
        const char* name;
        bool input_nonblocking;
        bool output_nonblocking;
    } const cases[] = {
        { "standard input", true, false },
        { "standard output", false, true },
        { "both", true, true },
    };
    const std::string input = lines(1 << 20);
    for (const Case& c : cases) {
        Pipe in;
        Pipe out;
        if (c.input_nonblocking)
            set_nonblocking(in.read_end);
        if (c.output_nonblocking)
            set_nonblocking(out.write_end);
        pid_t pid = spawn(vormel, { in.read_end, out.write_end, 2 });
        close(in.read_end);
        close(out.write_end);
        // Input dribbles in, and nobody reads at first: both ends would block.
        // Output is held up long enough that a spin on it would break the CPU
        // bound below several times over.
        std::thread writer = feed(in.write_end, input, 32 << 10, std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(c.output_nonblocking ? 1000 : 200));
        std::string output = drain(out.read_end);
        writer.join();
        rusage usage {};
        EXPECT_EQ(wait_for_exit(pid, 10, &usage), 0) << c.name;
        EXPECT_TRUE(output == tagged_reference(input, generator_of(pid))) << c.name;
        double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        EXPECT_LT(cpu, 0.25) << c.name << ": busy-waiting?";
    }
}

// A stop while vormel waits in poll() is resumed by the kernel through
// restart_syscall, which the sandbox must allow as well.
TEST(Faults, StopsAndContinuesLoseAndDoubleNothing)
{
    struct Case {
        const char* name;
        bool input_nonblocking;
        std::size_t piece;
        std::chrono::microseconds pause;
    } const cases[] = {
        { "working or waiting in read", false, 1 << 20, std::chrono::microseconds(0) },
        { "waiting in poll", true, 64 << 10, std::chrono::milliseconds(2) },
    };
    const std::string input = lines(16 << 20);
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
        std::string output = drain(out.read_end);
        writer.join();
        running = false;
        stopper.join();
        kill(pid, SIGCONT);
        EXPECT_EQ(wait_for_exit(pid, 10), 0) << c.name;
        EXPECT_TRUE(output == tagged_reference(input, generator_of(pid))) << c.name;
    }
}

TEST(Faults, OneEndlessLinePassesInConstantMemory)
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
    if (kSanitized)
        GTEST_SKIP() << "peak memory not checked: AddressSanitizer's shadow memory dominates it";
    EXPECT_GT(peak_kib, 0) << "no VmHWM in /proc/" << pid << "/status";
    EXPECT_LT(peak_kib, 4 * 1024) << "peak resident set in KiB";
}

// `vormel < f >> f` would read its own output back for ever.
TEST(Faults, RefusesAnOutputFileThatIsItsOwnInput)
{
    char directory[] = "/tmp/vormel-test-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string file = std::string(directory) + "/f";
    const std::string other = std::string(directory) + "/g";
    const std::string text = "one\ntwo\n";
    const std::string refused = "vormel: input file is output file\n";

    struct Case {
        const char* name;
        const std::string& output_path;
        int output_flags;
        bool input_at_end;
        int status;
        const std::string& message;
        std::size_t file_size;
    } const cases[] = {
        { "appending to the input", file, O_WRONLY | O_APPEND, false, 1, refused, text.size() },
        { "writing over the input", file, O_RDWR, false, 1, refused, text.size() },
        { "input already read to its end", file, O_WRONLY | O_APPEND, true, 0, "", text.size() },
        { "truncating the input first", file, O_WRONLY | O_TRUNC, false, 0, "", 0 },
        { "appending to another file", other, O_WRONLY | O_APPEND | O_CREAT, false, 0, "",
            text.size() },
    };
    for (const Case& c : cases) {
        FILE* f = std::fopen(file.c_str(), "w");
        std::fputs(text.c_str(), f);
        std::fclose(f);
        unlink(other.c_str());
        int in = open_file(file.c_str(), O_RDONLY);
        if (c.input_at_end)
            lseek(in, 0, SEEK_END);
        int out = open_file(c.output_path.c_str(), c.output_flags);
        Finished r = run_with(vormel, in, out, 5);
        close(in);
        close(out);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.err, c.message) << c.name;
        int check = open_file(file.c_str(), O_RDONLY);
        EXPECT_EQ(contents(check).size(), c.file_size) << c.name;
        close(check);
    }
    unlink(file.c_str());
    unlink(other.c_str());
    rmdir(directory);
}

} // namespace
