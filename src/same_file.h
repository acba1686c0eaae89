#pragma once

// Whether standard input may be copied to standard output. When both are one
// regular file with input left to read, the copy would read its own output
// back and grow the file until the disk is full.
struct StreamCheck {
    const char* refusal; // what to report, nullptr when the copy may go ahead
    int error; // the errno behind the refusal, 0 when there is none
};

// A descriptor that cannot be examined is no proof that the two files
// differ, so a failed examination refuses too. A closed descriptor is
// examined well enough: nothing can be read from it or written to it.
StreamCheck check_input_against_output(int input_fd, int output_fd);
