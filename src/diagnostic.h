#pragma once

// Messages on standard error, in the form "vormel: <what>: <reason>". Each is
// formatted on the stack and written with write(), not through stdio, which
// may ask the kernel for more than the sandbox allows. Both return the
// failure exit status.

// "vormel: <what>: <strerror(err)>"
int fail(const char* what, int err);

// "vormel: <what>"
int fail(const char* what);
