// The built program, run as a user would run it, checked byte for byte.

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "child.h"
#include "reference.h"

namespace {

const std::vector<std::string> vormel = program_command(vormel_path());
const std::vector<std::string> vormel_scripted = program_command(VORMEL_SCRIPTED_PATH);

// The seed a run used follows from its pid, so its whole output is known.
std::string expected_for(const Finished& run, std::string_view input)
{
    return tagged_reference(input, generator_of(run.pid));
}

struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> args;
};

TEST(Vormel, TagsEveryLineExactly)
{
    const Case cases[] = {
        { "empty input", "", {} },
        { "one line", "alpha\n", {} },
        { "empty lines", "\n\n\n", {} },
        { "CRLF", "one\r\ntwo\r\n", {} },
        { "last line without newline", "first\nlast", {} },
        { "509 bytes", line_of(509) + "\n", {} },
        { "510 bytes", line_of(510) + "\n", {} },
        { "511 bytes", line_of(511) + "\n", {} },
        { "100000 bytes", line_of(100000) + "\nafter\n", {} },
        { "300000 bytes without newline", line_of(300000), {} },
        { "NUL bytes", std::string("a\0b\n\0\n\0", 7), {} },
        { "arguments", "x\ny\n", { "--help", "-n", "5", "file" } },
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = vormel;
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Finished r = run(argv, c.input);
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(r.err, "") << c.name;
        EXPECT_EQ(r.out, expected_for(r, c.input)) << c.name;
    }
}

TEST(Vormel, ReportsAReadErrorAfterWritingWhatCameBefore)
{
    // A Unix socket whose peer closed with data unread: what was sent, then
    // ECONNRESET, a read error in mid-stream.
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    const std::string sent = "first\nsecond\npartial";
    ASSERT_EQ(write(ends[1], sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    ASSERT_EQ(write(ends[0], "x", 1), 1);
    close(ends[1]);
    struct ReadCase {
        const char* name;
        int stdin_fd;
        std::string before; // the input read before the error
        const char* message;
    } const cases[] = {
        { "directory", open_file("/", O_RDONLY), "", "vormel: read error: Is a directory\n" },
        { "closed", kClosed, "", "vormel: read error: Bad file descriptor\n" },
        { "connection reset", ends[0], sent, "vormel: read error: Connection reset by peer\n" },
    };
    for (const ReadCase& c : cases) {
        int out = memory_file();
        Finished r = run_with(vormel, c.stdin_fd, out);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.err, c.message) << c.name;
        EXPECT_EQ(contents(out), tagged_reference(c.before, generator_of(r.pid))) << c.name;
        close(out);
    }
    close(ends[0]);
}

TEST(Rigged, ReportsEveryWriteErrorEvenAtClose)
{
    if (vormel_from_elsewhere())
        GTEST_SKIP() << kNeedsTestBuild;
    const std::vector<std::string> failing_close
        = faulty_command(vormel_path(), { "VORMEL_CLOSE_ERROR=" + std::to_string(EIO) });
    struct WriteCase {
        const char* name;
        std::vector<std::string> argv;
        int stdin_fd;
        int stdout_fd;
        int status;
        const char* message;
    } const cases[] = {
        { "endless lines into a full device", shell_command("yes | exec \"$@\" >/dev/full", vormel),
            kClosed, kClosed, 1, "vormel: write error: No space left on device\n" },
        { "one endless line into a full device", vormel, open_file("/dev/zero", O_RDONLY),
            open_file("/dev/full", O_WRONLY), 1, "vormel: write error: No space left on device\n" },
        { "standard output closed", vormel, memory_file("a\n"), kClosed, 1,
            "vormel: write error: Bad file descriptor\n" },
        { "standard output closed, nothing to write", vormel, memory_file(), kClosed, 0, "" },
        { "both ends closed", vormel, kClosed, kClosed, 1,
            "vormel: read error: Bad file descriptor\n" },
        { "a write that takes nothing", faulty_command(vormel_path(), { "VORMEL_WRITE_ZERO=1" }),
            memory_file("a\n"), memory_file(), 1,
            "vormel: write error: No space left on device\n" },
        { "close fails after the output", failing_close, memory_file("a\n"), memory_file(), 1,
            "vormel: write error: Input/output error\n" },
        { "close fails, nothing written", failing_close, memory_file(), memory_file(), 1,
            "vormel: write error: Input/output error\n" },
        { "close fails with a number that has no text",
            faulty_command(vormel_path(), { "VORMEL_CLOSE_ERROR=200" }), memory_file("a\n"),
            memory_file(), 1, "vormel: write error: Unknown error 200\n" },
    };
    for (const WriteCase& c : cases) {
        Finished r = run_with(c.argv, c.stdin_fd, c.stdout_fd, 2);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.err, c.message) << c.name;
    }
}

// Output must not wait for a full buffer: a line is seen as soon as it is in.
TEST(Vormel, PassesEachLineOnBeforeWaitingForMore)
{
    Pipe input;
    Pipe output;
    pid_t pid = spawn(vormel, { input.read_end, output.write_end, 2 });
    close(input.read_end);
    close(output.write_end);
    Rand15 expected_generator = generator_of(pid);

    for (std::string line : { "first\n", "second\n" }) {
        ASSERT_EQ(
            write(input.write_end, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        pollfd ready { output.read_end, POLLIN, 0 };
        ASSERT_EQ(poll(&ready, 1, 5000), 1) << "no output for " << line;
        char got[64];
        ssize_t n = read(output.read_end, got, sizeof got);
        EXPECT_EQ(std::string(got, static_cast<std::size_t>(n)),
            tagged_reference(line, expected_generator));
        expected_generator.draw();
    }
    close(input.write_end);
    char rest;
    EXPECT_EQ(read(output.read_end, &rest, 1), 0);
    close(output.read_end);
    EXPECT_EQ(wait_for_exit(pid, 5), 0);
}

TEST(Rigged, FractionSourceSeedsOnFirstDrawOnlyAndGuardsItsRange)
{
    if (vormel_from_elsewhere())
        GTEST_SKIP() << kNeedsTestBuild;
    struct ScriptCase {
        const char* name;
        std::string input;
        std::string draws;
        int status;
        std::string out;
        bool seeds;
    } const cases[] = {
        { "empty input never seeds", "", "1", 0, "", false },
        { "ends of the range", "a\nb\nc\n", "0,32767,100", 0,
            "a        0\nb    50000\nc      153\n", true },
        { "draw out of range", "a\nb\nc\nd\n", "0,32767,65534", 1,
            "a        0\nb    50000\n2.000000: rand return out of range\n", true },
        { "nothing of the failing line", line_of(200000) + "\n", "65534", 1,
            "2.000000: rand return out of range\n", true },
    };
    for (const ScriptCase& c : cases) {
        Finished r = run(vormel_scripted, c.input, { "SCRIPTED_DRAWS=" + c.draws });
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.out, c.out) << c.name;
        std::string seed_log = c.seeds ? "seed " + std::to_string(r.pid % 1000) + "\n" : "";
        EXPECT_EQ(r.err, seed_log) << c.name;
    }
}

} // namespace
