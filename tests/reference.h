#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "float_precision.h"
#include "rand15.h"

// The generator of a run of vormel, which seeds from its pid modulo 1000.
inline Rand15 generator_of(pid_t pid)
{
    return Rand15 { static_cast<std::uint32_t>(pid % 1000) };
}

// What the output of a run must be, built the plain way: split at newlines,
// one printf-formatted tag per line, drawn in order from the generator.
inline std::string tagged_reference(std::string_view input, Rand15 generator)
{
    set_double_precision(); // else x87 units round these twice
    std::string out;
    while (!input.empty()) {
        std::size_t newline = input.find('\n');
        std::string_view line = input.substr(0, newline);
        input.remove_prefix(newline == std::string_view::npos ? input.size() : newline + 1);
        char tail[32];
        std::snprintf(tail, sizeof tail, " %8.0f\n", generator.draw() / 32767.0 * 50000.0);
        out.append(line).append(tail);
    }
    return out;
}

// Inputs. One line of `length` printable bytes, without its newline:
inline std::string line_of(std::size_t length)
{
    std::string line;
    for (std::size_t i = 0; i < length; ++i)
        line += static_cast<char>('!' + i % 90);
    return line;
}

// Lines of 0 to 79 bytes, `bytes` in all or a line more, always the same.
inline std::string random_lines(std::size_t bytes)
{
    std::string text;
    Rand15 random { 11 };
    while (text.size() < bytes) {
        text.append(static_cast<std::size_t>(random.draw() % 80),
            static_cast<char>('a' + random.draw() % 26));
        text += '\n';
    }
    return text;
}
