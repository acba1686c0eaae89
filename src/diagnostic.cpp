#include "diagnostic.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <span>
#include <string_view>

#include "fd_io.h"

namespace {

// A line put together on the stack. Messages are written after the sandbox
// is on, where the C library may not be asked for memory, so no call of the
// printf family, whose formatting may allocate for a long text.
class Message {
public:
    Message& operator<<(std::string_view text)
    {
        std::size_t size = std::min(text.size(), sizeof text_ - 1 - size_);
        std::memcpy(text_ + size_, text.data(), size);
        size_ += size;
        return *this;
    }

    Message& operator<<(int number)
    {
        char digits[12];
        char* first = std::end(digits);
        // Negated digit by digit, so that the most negative int works too.
        int rest = number;
        do {
            *--first = static_cast<char>('0' + std::abs(rest % 10));
            rest /= 10;
        } while (rest != 0);
        if (number < 0)
            *--first = '-';
        return *this << std::string_view(first, static_cast<std::size_t>(std::end(digits) - first));
    }

    // The text and its newline, for which room is always kept.
    std::span<const char> line()
    {
        text_[size_] = '\n';
        return { text_, size_ + 1 };
    }

private:
    char text_[512];
    std::size_t size_ = 0;
};

// The reason for `err`, as strerror() words it. glibc's strerror() allocates:
// for a number it has no text for, and from 2.41 for every number. Its table
// of texts, from 2.32 on, does not.
void put_reason(Message& message, int err)
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 32)
    if (const char* text = strerrordesc_np(err))
        message << text;
    else
        message << "Unknown error " << err;
#else
    message << std::strerror(err);
#endif
}

int write_message(Message& message)
{
    write_all(STDERR_FILENO, message.line());
    return EXIT_FAILURE;
}

} // namespace

int fail(const char* what, int err)
{
    Message message;
    message << "vormel: " << what << ": ";
    put_reason(message, err);
    return write_message(message);
}

int fail(const char* what)
{
    Message message;
    message << "vormel: " << what;
    return write_message(message);
}
