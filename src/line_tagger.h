#pragma once

#include <cassert>
#include <cstddef>
#include <cstring>
#include <span>

#include "newline_scan.h"
#include "output.h"
#include "tag_format.h"

// What follows the text of every line: a space, the tag field, the newline.
inline constexpr std::size_t kTailSize = 1 + sizeof(TagField) + 1;

// The room that tag() needs in its output for `input_size` bytes: a block of
// only newlines turns every byte into a tail, and short lines are copied in
// fixed-size moves that may reach up to 32 bytes beyond their tail.
constexpr std::size_t max_tagged_size(std::size_t input_size)
{
    return input_size * kTailSize + 64;
}

namespace line_tagger_detail {

inline char* put_text(const char* from, const char* to, char* out)
{
    std::memcpy(out, from, static_cast<std::size_t>(to - from));
    return out + (to - from);
}

// Most lines are short, and a call to copy a few bytes costs more than the
// copy. Fixed-size moves of 16 and 32 bytes compile to plain loads and stores;
// what they put beyond the text is overwritten by the tail or lies in the
// output's slack. They may read up to 32 bytes past the newline.
inline char* put_line_text(const char* from, const char* newline, const char* input_end, char* out)
{
    constexpr std::ptrdiff_t kLongLine = 256;
    std::ptrdiff_t length = newline - from;
    if (length > kLongLine || input_end - newline < 32)
        return put_text(from, newline, out);
    std::memcpy(out, from, 16);
    for (std::ptrdiff_t at = 16; at < length; at += 32)
        std::memcpy(out + at, from + at, 32);
    return out + length;
}

inline char* put_tail(const TagField& tag, char* out)
{
    out[0] = ' ';
    std::memcpy(out + 1, tag.data(), tag.size());
    out[1 + tag.size()] = '\n';
    return out + kTailSize;
}

} // namespace line_tagger_detail

// Turns a byte stream, fed in blocks of any size, into tagged lines: every
// line's bytes as they came, then its tail. A line may span any number of
// blocks; its tag is drawn from next_fraction() when its first byte arrives,
// before any of it is put out, and held until its newline. The source is a
// template argument so that its call, made for every line, can be inlined.
template <double (*next_fraction)()> class LineTagger {
public:
    // `out` must have room for max_tagged_size(input.size()).
    void tag(std::span<const char> input, OutputBuffer& out)
    {
        using namespace line_tagger_detail;
        assert(out.room() >= max_tagged_size(input.size()));
        const char* from = input.data();
        const char* const end = from + input.size();
        char* to = out.end();
        NewlineScan newlines(from, end);

        if (inside_line_ && from < end) {
            const char* newline = newlines.next();
            if (newline == nullptr) {
                out.set_end(put_text(from, end, to));
                return;
            }
            to = put_tail(held_tag_, put_text(from, newline, to));
            inside_line_ = false;
            from = newline + 1;
        }

        while (from < end) {
            // Should the draw end the process, every line before stands in full.
            out.set_end(to);
            TagField tag = tag_field(next_fraction());
            const char* newline = newlines.next();
            if (newline == nullptr) {
                held_tag_ = tag;
                inside_line_ = true;
                to = put_text(from, end, to);
                break;
            }
            to = put_tail(tag, put_line_text(from, newline, end, to));
            from = newline + 1;
        }
        out.set_end(to);
    }

    // Ends a last line that had no newline, as if it had one.
    // `out` must have room for kTailSize bytes.
    void finish(OutputBuffer& out)
    {
        if (inside_line_) {
            out.set_end(line_tagger_detail::put_tail(held_tag_, out.end()));
            inside_line_ = false;
        }
    }

private:
    bool inside_line_ = false;
    TagField held_tag_ {};
};
