#pragma once

#include <cstddef>
#include <span>

#include "output.h"
#include "tag_format.h"

using FractionSource = double (*)();

// What follows the text of every line: a space, the tag field, the newline.
inline constexpr std::size_t kTailSize = 1 + sizeof(TagField) + 1;

// The room that tag() needs in its output for `input_size` bytes: a block of
// only newlines turns every byte into a tail, and short lines are copied in
// fixed-size moves that may reach up to 32 bytes beyond their tail.
constexpr std::size_t max_tagged_size(std::size_t input_size)
{
    return input_size * kTailSize + 64;
}

// Turns a byte stream, fed in blocks of any size, into tagged lines: every
// line's bytes as they came, then its tail. A line may span any number of
// blocks; its tag is drawn when its first byte arrives, before any of it is
// put out, and held until its newline.
class LineTagger {
public:
    explicit LineTagger(FractionSource fraction)
        : fraction_(fraction)
    {
    }

    // `out` must have room for max_tagged_size(input.size()).
    void tag(std::span<const char> input, OutputBuffer& out);

    // Ends a last line that had no newline, as if it had one.
    // `out` must have room for kTailSize bytes.
    void finish(OutputBuffer& out);

private:
    FractionSource fraction_;
    bool inside_line_ = false;
    TagField held_tag_ {};
};
