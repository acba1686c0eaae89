#pragma once

// Confines the process to what the tagging loop needs from the kernel:
// reading standard input, writing standard output and error, waiting on them,
// asking for its pid, closing standard output and exiting, and the C
// library's own abort. Any other system call fails with ENOSYS and does
// nothing. Call it once set-up is done.
//
// A second wall, not a condition for working: where the system cannot
// confine the process (not Linux, an old kernel, an emulator, a container
// that forbids it), the process goes on unconfined and nothing is said.
void enter_sandbox();
