// The generator's stand-in for tests. Its draws follow the script in the
// environment variable SCRIPTED_DRAWS ("0,32767,65534"), repeated from the
// start when used up. Every seeding is logged to standard error as "seed N".

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "fd_io.h"
#include "rand15.h"

// This stands in for the generator inside the sandboxed program too, so it
// allocates nothing and writes its log with write(): the filter answers a
// request for memory, or stdio's set-up, with ENOSYS, and the program would
// then fail where the test means it to go on.
namespace {

std::array<int, 64> script;
std::size_t script_size;
std::size_t position;

void load_script_from_environment()
{
    const char* text = std::getenv("SCRIPTED_DRAWS");
    for (char* end = nullptr; text != nullptr && *text != '\0' && script_size < script.size();
         text = end + (*end == ',')) {
        script[script_size++] = static_cast<int>(std::strtol(text, &end, 10));
        if (end == text)
            break;
    }
}

} // namespace

void rand15_seed(unsigned seed)
{
    char log[32];
    int length = std::snprintf(log, sizeof log, "seed %u\n", seed);
    write_all(STDERR_FILENO, { log, static_cast<std::size_t>(length) });
}

int rand15_draw()
{
    if (script_size == 0)
        load_script_from_environment();
    if (script_size == 0)
        return 0;
    int draw = script[position];
    position = (position + 1) % script_size;
    return draw;
}
