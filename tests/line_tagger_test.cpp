#include "line_tagger.h"

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "reference.h"

namespace {

Rand15 test_generator;
double next_fraction()
{
    return test_generator.draw() / 32767.0;
}

std::vector<char> storage(1 << 22);

// Feeds `input` to a tagger in blocks of `block` bytes, as reads might deliver it.
std::string tag_in_blocks(std::string_view input, std::size_t block)
{
    OutputBuffer out(-1, storage);
    LineTagger<next_fraction> tagger;
    std::string result;
    for (std::size_t at = 0; at < input.size(); at += block) {
        tagger.tag(input.substr(at, block), out);
        result.append(out.pending().begin(), out.pending().end());
        out.discard();
    }
    tagger.finish(out);
    result.append(out.pending().begin(), out.pending().end());
    return result;
}

TEST(LineTagger, OutputDoesNotDependOnHowInputIsSplit)
{
    std::string binary;
    for (int i = 0; i < 5000; ++i)
        binary += static_cast<char>((i * 7919) % 256);
    const std::string inputs[] = {
        "",
        "\n",
        "\n\n\n",
        "alpha\n",
        "alpha\nbeta\ngamma\n",
        "no newline at end",
        "a\r\nb\r\n",
        std::string("nul\0inside\n\0\n", 14),
        line_of(509) + "\n" + line_of(510) + "\n" + line_of(511) + "\n",
        line_of(100000) + "\nshort\n" + line_of(70000),
        binary,
        // A newline last in a block, around the 64-byte steps of the scan.
        line_of(63) + "\n",
        line_of(64) + "\n",
        line_of(65) + "\n",
        line_of(127) + "\n",
        line_of(128) + "\n",
        line_of(129) + "\n",
    };
    const std::size_t blocks[] = { 1, 2, 3, 9, 10, 11, 509, 4096, 1 << 20 };
    for (const std::string& input : inputs) {
        std::string expected = tagged_reference(input, Rand15 { 5 });
        for (std::size_t block : blocks) {
            test_generator = Rand15 { 5 };
            EXPECT_EQ(tag_in_blocks(input, block), expected)
                << "input of " << input.size() << " bytes in blocks of " << block;
        }
    }
}

// Output that reaches past the advertised room would overwrite memory.
TEST(LineTagger, StaysWithinTheRoomItAsksFor)
{
    const std::string inputs[] = {
        std::string(1000, '\n'),
        "a\nbc\n",
        "abcdefghijklmnopqrstuvwxyz\n\n\n",
        "\n\n\n\nfinal line without newline",
    };
    constexpr char kGuard = '\x55';
    for (const std::string& input : inputs) {
        std::size_t room = max_tagged_size(input.size()) + kTailSize;
        std::vector<char> buffer(room + 64, kGuard);
        OutputBuffer out(-1, std::span(buffer).first(room));
        LineTagger<next_fraction> tagger;
        tagger.tag(input, out);
        tagger.finish(out);
        EXPECT_EQ(
            std::count(buffer.begin() + static_cast<std::ptrdiff_t>(room), buffer.end(), kGuard),
            64)
            << input;
    }
}

// Short lines are copied in fixed-size moves that read ahead of the newline,
// but never past the input: here it ends where readable memory does.
TEST(LineTagger, ReadsNothingPastItsInput)
{
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* mapped
        = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    char* const end = static_cast<char*>(mapped) + page;
    ASSERT_EQ(mprotect(end, page, PROT_NONE), 0);
    for (std::size_t after = 0; after <= 40; ++after) {
        const std::string input = line_of(20) + "\n" + std::string(after, 'y');
        std::copy(input.begin(), input.end(), end - input.size());
        OutputBuffer out(-1, storage);
        LineTagger<next_fraction> tagger;
        test_generator = Rand15 { 5 };
        tagger.tag({ end - input.size(), input.size() }, out);
        tagger.finish(out);
        EXPECT_EQ(std::string(out.pending().begin(), out.pending().end()),
            tagged_reference(input, Rand15 { 5 }))
            << after << " bytes after the newline";
    }
    munmap(mapped, 2 * page);
}

// The tag of a line is drawn before any byte of that line is put out, so a
// generator failure cannot leave half a line behind.
OutputBuffer* watched_output;
std::vector<std::size_t> output_sizes_at_draw;
double record_output_size()
{
    output_sizes_at_draw.push_back(watched_output->pending().size());
    return 0.0;
}

TEST(LineTagger, DrawsBeforePuttingOutAnyByteOfTheLine)
{
    OutputBuffer out(-1, storage);
    watched_output = &out;
    output_sizes_at_draw.clear();
    LineTagger<record_output_size> tagger;
    tagger.tag(std::string_view("ab\ncd"), out); // the second line continues in the next block
    tagger.tag(std::string_view("ef\n\n"), out);
    tagger.finish(out);
    const std::size_t tail = kTailSize;
    EXPECT_EQ(
        output_sizes_at_draw, (std::vector<std::size_t> { 0, 2 + tail, 2 + tail + 4 + tail }));
    EXPECT_EQ(out.pending().size(), 2 + tail + 4 + tail + tail);
}

} // namespace
