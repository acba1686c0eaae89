# Cross-build with Debian's <cpu>-linux-gnu compiler for `cross_cpu`, and run
# the tests under qemu-user with the target's libraries from its sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${cross_cpu})
set(CMAKE_CXX_COMPILER ${cross_cpu}-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${cross_cpu} -L /usr/${cross_cpu}-linux-gnu)

# The target's GoogleTest comes from Debian multiarch, under /usr in the
# target's library directory; build tools such as Python stay the host's.
set(CMAKE_LIBRARY_ARCHITECTURE ${cross_cpu}-linux-gnu)
