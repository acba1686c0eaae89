# 32-bit ARM with hardware floating point (Debian's armhf), tested under qemu-arm.
set(cross_cpu arm)
set(cross_triplet arm-linux-gnueabihf)
set(cross_debian_arch armhf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
