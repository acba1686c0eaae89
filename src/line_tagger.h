#pragma once

#include <cstddef>
#include <span>

#include "output.h"
#include "tag_format.h"

using FractionSource = double (*)();

// The most output that tag() can make of `input_size` bytes: a buffer of only
// newlines turns every byte into a whole tail. finish() adds one tail more.
constexpr std::size_t max_tagged_size(std::size_t input_size)
{
    return input_size * kTailSize;
}

// Turns a byte stream, fed in blocks of any size, into tagged lines: every
// line's bytes as they came, then its tail. A line may span any number of
// blocks; its tag is drawn when its first byte arrives, before any of it is
// put out, and held until its newline.
class LineTagger {
public:
    explicit LineTagger(FractionSource fraction) : fraction_(fraction) {}

    // `out` must have room for max_tagged_size(input.size()).
    void tag(std::span<const char> input, OutputBuffer& out);

    // Ends a last line that had no newline, as if it had one.
    // `out` must have room for kTailSize bytes.
    void finish(OutputBuffer& out);

private:
    FractionSource fraction_;
    bool inside_line_ = false;
    Tail held_tail_{};
};
