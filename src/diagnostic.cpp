#include "diagnostic.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fd_io.h"

namespace {

int write_message(const char* what, const char* reason)
{
    char message[512];
    int length = reason == nullptr
        ? std::snprintf(message, sizeof message, "vormel: %s\n", what)
        : std::snprintf(message, sizeof message, "vormel: %s: %s\n", what, reason);
    if (length > 0)
        write_all(STDERR_FILENO,
            { message, std::min(static_cast<std::size_t>(length), sizeof message - 1) });
    return EXIT_FAILURE;
}

} // namespace

int fail(const char* what, int err)
{
    return write_message(what, std::strerror(err));
}

int fail(const char* what)
{
    return write_message(what, nullptr);
}
