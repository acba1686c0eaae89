# Cross-build with Debian's s390x-linux-gnu compiler; run the tests under
# qemu-user with the target's libraries from its sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)

set(target_sysroot /usr/s390x-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L ${target_sysroot})

# The target's GoogleTest comes from Debian multiarch, under /usr with the
# target's library directory; build tools such as Python stay the host's.
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)
