#pragma once

#include <cassert>
#include <cstddef>
#include <span>

// A fixed buffer in front of a file descriptor. Producers append without
// bounds checks, so each must be sure of its room beforehand (room()); the
// owner drains it with flush() at the points where output must be seen.
class OutputBuffer {
public:
    constexpr OutputBuffer(int fd, std::span<char> storage)
        : fd_(fd)
        , storage_(storage)
        , end_(storage.data())
    {
    }

    // Producers write at end() and then move it past what they wrote.
    char* end() const { return end_; }
    void set_end(char* end)
    {
        assert(end >= storage_.data() && end <= storage_.data() + storage_.size());
        end_ = end;
    }

    std::size_t room() const { return storage_.size() - pending().size(); }

    std::span<const char> pending() const
    {
        return { storage_.data(), static_cast<std::size_t>(end_ - storage_.data()) };
    }

    void discard() { end_ = storage_.data(); }

    // Writes out everything pending. On failure returns false with errno set;
    // what was pending is dropped either way.
    bool flush();

    // Closes the descriptor, after the last flush. Some file systems (NFS,
    // some FUSE ones) report a failed write only here. A descriptor that was
    // never open, with nothing written to it, has lost nothing: that is no
    // failure. Otherwise returns false with errno set.
    bool close();

private:
    int fd_;
    std::span<char> storage_;
    char* end_;
    bool wrote_ = false;
};

inline constexpr std::size_t kStandardOutputSize = 256u << 10;

// The one buffer in front of standard output.
OutputBuffer& standard_output();
