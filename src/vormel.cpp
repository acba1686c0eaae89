// vormel: copy standard input to standard output, appending to every line a
// space and a pseudo-random number from 0 to 50000 in an 8-column field.

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "diagnostic.h"
#include "fd_io.h"
#include "float_precision.h"
#include "line_tagger.h"
#include "output.h"
#include "rand0_1.h"
#include "same_file.h"
#include "sandbox.h"

namespace {

// Well under the 64 KiB a pipe holds: a write then seldom fills the pipe, so
// vormel and its reader work side by side instead of taking turns to sleep.
// Measured through a pipe, 128 KiB blocks ran at half the speed of these.
constexpr std::size_t kInputSize = 16u << 10;
static_assert(max_tagged_size(kInputSize) + kTailSize <= kStandardOutputSize);

char input[kInputSize];

} // namespace

int main()
{
    // Tags are printf's rounding of a double product, which the x87 unit of
    // 32-bit x86 computes only when told to.
    set_double_precision();
    StreamCheck streams = check_input_against_output(STDIN_FILENO, STDOUT_FILENO);
    if (streams.refusal != nullptr)
        return streams.error != 0 ? fail(streams.refusal, streams.error) : fail(streams.refusal);
    // Set-up is over: from here on the bytes of strangers meet a process
    // that can only read, write, wait and exit.
    enter_sandbox();

    OutputBuffer& out = standard_output();
    LineTagger<rand0_1> tagger;
    int read_error = 0;
    for (;;) {
        ssize_t count = read_some(STDIN_FILENO, input);
        if (count <= 0) {
            read_error = count < 0 ? errno : 0;
            break;
        }
        tagger.tag({ input, static_cast<std::size_t>(count) }, out);
        // Before waiting for more input, so that a live stream is seen live.
        if (!out.flush())
            return fail("write error", errno);
    }

    // A read error ends the input as its end would, after what came before.
    tagger.finish(out);
    if (!out.flush() || !out.close())
        return fail("write error", errno);
    if (read_error != 0)
        return fail("read error", read_error);
    return EXIT_SUCCESS;
}
