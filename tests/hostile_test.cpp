// vormel where the system works against it: I/O calls that fail and come up
// short at random, and calls it should never make.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
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
        text += line_of(length) + '\n';
    return text;
}

TEST(Rigged, EveryChaoticRunGivesExactOutput)
{
    if (vormel_from_elsewhere())
        GTEST_SKIP() << kNeedsTestBuild;
    const std::string inputs[] = {
        "",
        std::string(5000, '\n'),
        std::string(200000, 'x'),
        std::string("a\0b\r\n\0\r\n\r\r\0", 12) + "tail\r",
        straddling_lines(),
    };
    // A quarter under an emulator or AddressSanitizer, where each run takes
    // about ten times as long: the same code runs the whole of it natively.
    const int seeds = emulated() || kSanitized ? 15 : 60;
    int mismatches = 0;
    for (int seed = 1; seed <= seeds; ++seed) {
        for (const std::string& input : inputs) {
            Finished r = run(
                faulty_command(vormel_path(), { "VORMEL_CHAOS_SEED=" + std::to_string(seed) }),
                input);
            bool exact = r.status == 0 && r.err.empty()
                && r.out == tagged_reference(input, generator_of(r.pid));
            mismatches += !exact;
            EXPECT_TRUE(exact) << "seed " << seed << ", " << input.size()
                               << " bytes of input: status " << r.status << ", " << r.err;
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << static_cast<std::size_t>(seeds) * std::size(inputs)
                             << " runs";
}

// Why the sandbox tests cannot mean anything here, or nullptr if they can.
const char* sandbox_untestable()
{
    // A vormel from elsewhere is a release's, which has the sandbox.
    if (!VORMEL_SANDBOXED && !vormel_from_elsewhere())
        return "built without the sandbox (VORMEL_SANDBOX off)";
    if (emulated())
        return kNeedsRealKernel;
    if (status_field(0, "Seccomp:") < 0)
        return "this kernel has no seccomp";
    return nullptr;
}

TEST(Kernel, TheFilterIsOnWhileTagging)
{
    if (const char* reason = sandbox_untestable())
        GTEST_SKIP() << reason;
    Pipe in;
    Pipe out;
    pid_t pid = spawn(program_command(vormel_path()), { in.read_end, out.write_end, 2 });
    close(in.read_end);
    close(out.write_end);
    // A tagged line back means the loop runs, so set-up is over.
    ASSERT_EQ(write(in.write_end, "x\n", 2), 2);
    char line[16];
    ASSERT_GT(read(out.read_end, line, sizeof line), 0);
    long mode = status_field(pid, "Seccomp:");
    long filters = status_field(pid, "Seccomp_filters:");
    // With CAP_SYS_ADMIN the filter goes on without NoNewPrivs; without it,
    // only with. Inherited, or unknown before Linux 4.10, it proves nothing.
    EXPECT_TRUE(status_field(0, "NoNewPrivs:") != 0 || status_field(pid, "NoNewPrivs:") == 1);
    close(in.write_end);
    close(out.read_end);
    EXPECT_EQ(wait_for_exit(pid, 5), 0);
    EXPECT_EQ(mode, 2);
    // Filtered mode alone may be inherited: from a container runtime, say.
    // Kernels before 5.9 do not count the filters.
    if (long inherited = status_field(0, "Seccomp_filters:"); inherited >= 0) {
        EXPECT_GT(filters, inherited) << "vormel added no filter of its own";
    }
}

// A call outside the list gets ENOSYS, as from a kernel without it, and the
// run goes on exactly; a fault that the C library finds itself still ends
// with its message and SIGABRT.
TEST(Kernel, CallsOutsideTheListFailAndKillNothing)
{
    if (emulated())
        GTEST_SKIP() << kNeedsRealKernel;
    if (vormel_from_elsewhere())
        GTEST_SKIP() << kNeedsTestBuild;
    struct Case {
        const char* name;
        const char* setting;
        const char* shell; // that runs vormel as "$@"
        bool needs_sandbox;
        int status;
        const char* message;
    } const cases[] = {
        { "open", "VORMEL_FORBIDDEN_OPEN=/dev/null", "exec \"$@\"", true, 0, "" },
        { "calls of a newer C library", "VORMEL_NEWER_LIBC=1", "exec \"$@\"", false, 0, "" },
        { "a failed fortify check", "VORMEL_CHK_FAIL=1", "exec \"$@\"", false, 128 + SIGABRT,
            "buffer overflow detected" },
        { "a failed fortify check, SIGABRT ignored", "VORMEL_CHK_FAIL=1",
            "trap '' ABRT; exec \"$@\"", false, 128 + SIGABRT, "buffer overflow detected" },
    };
    const char* untestable = sandbox_untestable();
    const std::string input = straddling_lines();
    for (const Case& c : cases) {
        if (c.needs_sandbox && untestable != nullptr)
            continue;
        Finished r
            = run(shell_command(c.shell, faulty_command(vormel_path(), { c.setting })), input);
        EXPECT_EQ(r.status, c.status) << c.name;
        if (c.status == 0) {
            EXPECT_EQ(r.err, "") << c.name;
            EXPECT_TRUE(r.out == tagged_reference(input, generator_of(r.pid))) << c.name;
        } else {
            EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
        }
    }
    // Shown as skipped, so that a run that must test the filter sees it.
    if (untestable != nullptr)
        GTEST_SKIP() << "the open case: " << untestable;
}

} // namespace
