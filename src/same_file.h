#pragma once

// True when input_fd and output_fd are one regular file that still has input
// to read: copying would read its own output back and grow the file until the
// disk is full.
bool input_is_output(int input_fd, int output_fd);
