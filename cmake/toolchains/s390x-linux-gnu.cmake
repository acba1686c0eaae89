# 64-bit IBM Z, big-endian, tested under qemu-s390x.
set(cross_cpu s390x)
set(cross_debian_arch s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
