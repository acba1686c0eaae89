// vormel where the system works against it: I/O calls that fail and come up
// short at random, and calls it should never make.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <string>
#include <vector>

#include "child.h"
#include "reference.h"

namespace {

std::string straddling_lines()
{
    // Around the 16 KiB blocks that vormel reads, and their multiples.
    std::string text;
    for (std::size_t length : std::array<std::size_t, 8> { 16383, 1, 16384, 0, 16385, 7, 32767, 3 })
        text += std::string(length, 'a' + static_cast<char>(length % 26)) + '\n';
    return text;
}

TEST(Hostile, EveryChaoticRunGivesExactOutput)
{
    const std::string inputs[] = {
        "",
        std::string(5000, '\n'),
        std::string(200000, 'x'),
        std::string("a\0b\r\n\0\r\n\r\r\0", 12) + "tail\r",
        straddling_lines(),
    };
    int mismatches = 0;
    for (int seed = 1; seed <= 60; ++seed) {
        for (const std::string& input : inputs) {
            Finished r
                = run(faulty_command(VORMEL_PATH, { "VORMEL_CHAOS_SEED=" + std::to_string(seed) }),
                    input);
            bool exact = r.status == 0 && r.err.empty()
                && r.out == tagged_reference(input, generator_of(r.pid));
            mismatches += !exact;
            EXPECT_TRUE(exact) << "seed " << seed << ", " << input.size()
                               << " bytes of input: status " << r.status << ", " << r.err;
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << 60 * std::size(inputs) << " runs";
}

// The "Seccomp:" line of a process's status, or "" on a kernel without it.
std::string seccomp_mode(const std::string& process)
{
    std::ifstream status("/proc/" + process + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Seccomp:", 0) == 0)
            return line;
    return "";
}

// Why the sandbox tests cannot mean anything here, or nullptr if they can.
const char* sandbox_untestable()
{
    if (!VORMEL_SANDBOXED)
        return "built without the sandbox (VORMEL_SANDBOX off)";
    if (emulated())
        return "qemu-user refuses seccomp filters, so vormel runs unconfined under it";
    if (seccomp_mode("self").empty())
        return "this kernel has no seccomp";
    return nullptr;
}

TEST(Hostile, TheFilterIsOnWhileTagging)
{
    if (const char* reason = sandbox_untestable())
        GTEST_SKIP() << reason;
    Pipe in;
    Pipe out;
    pid_t pid = spawn(program_command(VORMEL_PATH), { in.read_end, out.write_end, 2 });
    close(in.read_end);
    close(out.write_end);
    // A tagged line back means the loop runs, so set-up is over.
    ASSERT_EQ(write(in.write_end, "x\n", 2), 2);
    char line[16];
    ASSERT_GT(read(out.read_end, line, sizeof line), 0);
    std::string mode = seccomp_mode(std::to_string(pid));
    close(in.write_end);
    close(out.read_end);
    EXPECT_EQ(wait_for_exit(pid, 5), 0);
    EXPECT_EQ(mode, "Seccomp:\t2");
}

TEST(Hostile, ACallOutsideTheListIsStopped)
{
    if (const char* reason = sandbox_untestable())
        GTEST_SKIP() << reason;
    Finished r = run(faulty_command(VORMEL_PATH, { "VORMEL_FORBIDDEN_OPEN=/dev/null" }), "x\n");
    EXPECT_EQ(r.status, 128 + SIGSYS);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
}

} // namespace
