# Cross-build with Debian's cross compiler for one CPU, and run the tests under
# qemu-user with the target's libraries from the compiler's sysroot. A
# toolchain file sets `cross_cpu`, `cross_debian_arch` (Debian's name for the
# architecture, which the package is built for) and, where Debian's names
# differ from the CPU's:
#   cross_triplet   the GNU triplet of the compiler and sysroot (<cpu>-linux-gnu)
#   cross_multiarch Debian's multiarch library directory (the triplet)
#   cross_qemu      qemu-user's name for the CPU (the CPU)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${cross_cpu})
if(NOT DEFINED cross_triplet)
  set(cross_triplet ${cross_cpu}-linux-gnu)
endif()
if(NOT DEFINED cross_multiarch)
  set(cross_multiarch ${cross_triplet})
endif()
if(NOT DEFINED cross_qemu)
  set(cross_qemu ${cross_cpu})
endif()
set(CMAKE_CXX_COMPILER ${cross_triplet}-g++)
# The guest's loader comes from the sysroot, but it looks in the host's
# ld.so.cache before the sysroot's lib: where that lists libraries of the
# guest's kind (the i386 ones of amd64's multilib, foreign multiarch ones),
# their libc is another build than the loader, and threads then hang.
# LD_LIBRARY_PATH comes first and keeps loader and libraries one build.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${cross_qemu} -L /usr/${cross_triplet}
  -E LD_LIBRARY_PATH=/usr/${cross_triplet}/lib)

# The target's GoogleTest comes from Debian multiarch, under /usr in the
# target's library directory; build tools such as Python stay the host's.
set(CMAKE_LIBRARY_ARCHITECTURE ${cross_multiarch})
