#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(VORMEL_PORTABLE_SCAN)
#define VORMEL_SSE2_SCAN 1
#include <emmintrin.h>
#endif

// Finds the newlines of a block in order. It looks at 64 bytes at a time and
// keeps their newlines as bits of one mask, so that lines a few bytes long
// cost a bit operation each instead of a search call each; long lines are
// crossed with memchr.
class NewlineScan {
public:
    NewlineScan(const char* begin, const char* end)
        : chunk_(begin)
        , end_(end)
        , newlines_(newline_mask(begin, end))
    {
    }

    // The next newline, or nullptr when the block has no more.
    const char* next()
    {
        if (newlines_ == 0 && !advance())
            return nullptr;
        const char* newline = chunk_ + std::countr_zero(newlines_);
        newlines_ &= newlines_ - 1;
        return newline;
    }

private:
    static constexpr std::ptrdiff_t kChunk = 64;

    // Moves on to the next chunk that holds a newline. Compares the bytes
    // left with a chunk's size before stepping: a pointer beyond the end of
    // the block would be undefined behaviour even if never read.
    bool advance()
    {
        if (end_ - chunk_ <= kChunk)
            return false;
        chunk_ += kChunk;
        newlines_ = newline_mask(chunk_, end_);
        if (newlines_ != 0)
            return true;
        // Two chunks without a newline: a long line, over which memchr is faster.
        if (end_ - chunk_ <= kChunk)
            return false;
        const char* from = chunk_ + kChunk;
        const void* found = std::memchr(from, '\n', static_cast<std::size_t>(end_ - from));
        if (found == nullptr) {
            chunk_ = end_;
            return false;
        }
        chunk_ = static_cast<const char*>(found);
        newlines_ = newline_mask(chunk_, end_);
        return true;
    }

    // Bit i is set when chunk[i] is a newline; bytes from `end` on count as none.
    static std::uint64_t newline_mask(const char* chunk, const char* end)
    {
        if (end - chunk < kChunk)
            return scalar_mask(chunk, end);
#if defined(VORMEL_SSE2_SCAN)
        const __m128i newline = _mm_set1_epi8('\n');
        std::uint64_t mask = 0;
        for (int part = 0; part < 4; ++part) {
            __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + 16 * part));
            auto bits
                = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, newline)));
            mask |= std::uint64_t(bits) << (16 * part);
        }
        return mask;
#else
        std::uint64_t mask = 0;
        for (int part = 0; part < 8; ++part)
            mask |= word_mask(chunk + 8 * part) << (8 * part);
        return mask;
#endif
    }

    // Bit i of the result is set when word[i] is a newline. Exact, unlike the
    // usual "has a zero byte" test, which may flag a byte after a match.
    static std::uint64_t word_mask(const char* word)
    {
        constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fu;
        constexpr std::uint64_t kNewlines = 0x0a0a0a0a0a0a0a0au;
        // Moves bit 8i + 7 to bit 56 + i; no two partial products share a bit.
        constexpr std::uint64_t kGather = 0x0102040810204080u >> 7;
        std::uint64_t bytes;
        std::memcpy(&bytes, word, sizeof bytes);
        if constexpr (std::endian::native == std::endian::big)
            bytes = __builtin_bswap64(bytes);
        std::uint64_t x = bytes ^ kNewlines;
        // A byte's top bit ends up clear here exactly when the byte is zero.
        std::uint64_t nonzero = ((x & kLow7) + kLow7) | x;
        return ((~nonzero & ~kLow7) * kGather) >> 56;
    }

    static std::uint64_t scalar_mask(const char* chunk, const char* end)
    {
        std::uint64_t mask = 0;
        for (std::ptrdiff_t i = 0; i < end - chunk && i < kChunk; ++i)
            mask |= std::uint64_t(chunk[i] == '\n') << i;
        return mask;
    }

    const char* chunk_;
    const char* end_;
    std::uint64_t newlines_;
};
