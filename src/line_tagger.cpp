#include "line_tagger.h"

#include <cassert>
#include <cstring>

namespace {

const char* find_newline(const char* from, const char* end)
{
    return static_cast<const char*>(std::memchr(from, '\n', static_cast<std::size_t>(end - from)));
}

} // namespace

void LineTagger::tag(std::span<const char> input, OutputBuffer& out)
{
    assert(out.room() >= max_tagged_size(input.size()));
    const char* from = input.data();
    const char* const end = from + input.size();
    while (from < end) {
        if (!inside_line_) {
            held_tail_ = make_tail(fraction_());
            inside_line_ = true;
        }
        const char* newline = find_newline(from, end);
        if (newline == nullptr) {
            out.put({from, end});
            return;
        }
        out.put({from, newline});
        out.put(held_tail_);
        inside_line_ = false;
        from = newline + 1;
    }
}

void LineTagger::finish(OutputBuffer& out)
{
    if (inside_line_) {
        out.put(held_tail_);
        inside_line_ = false;
    }
}
