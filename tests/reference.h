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
