#pragma once

// Messages on standard error, in the form "vormel: <what>: <reason>". Each is
// put together on the stack and written with write(), not through stdio or
// strerror(), which may ask the kernel for more than the sandbox allows.
// Both return the failure exit status.

// "vormel: <what>: <strerror(err)>", "Unknown error <err>" for a number
// without a text, as glibc words it
int fail(const char* what, int err);

// "vormel: <what>"
int fail(const char* what);
