# Cross-build with Debian's aarch64-linux-gnu compiler; run the tests under
# qemu-user with the target's libraries from its sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(target_sysroot /usr/aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${target_sysroot})

# The target's GoogleTest comes from Debian multiarch, under /usr with the
# target's library directory; build tools such as Python stay the host's.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
