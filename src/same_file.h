#pragma once

// Whether standard input may be copied to standard output. When both are one
// regular file, the copy either reads nothing (the shell emptied it for
// `> f`) or reads its own output back and grows the file until the disk is
// full, however little was left to read when it looked: a writer may append
// a line just after.
struct StreamCheck {
    const char* refusal; // what to report, nullptr when the copy may go ahead
    int error; // the errno behind the refusal, 0 when there is none
};

// Only two regular files can be one: a pipe, terminal, socket or device on
// either end is never refused, even when the other end cannot be examined.
// Where both may be regular files, one that cannot be examined is no proof
// that they differ, so that refuses too.
StreamCheck check_input_against_output(int input_fd, int output_fd);
