#pragma once

#include <sys/types.h>

#include <span>

// read() and write() as a filter needs them: interrupted calls are retried,
// short writes completed, and a descriptor left non-blocking by the parent is
// waited on rather than treated as failed. Errors come back in errno.

// Reads at most buffer.size() bytes: the count, 0 at end of input, or -1.
ssize_t read_some(int fd, std::span<char> buffer);

// Writes all of data, or returns false.
bool write_all(int fd, std::span<const char> data);
