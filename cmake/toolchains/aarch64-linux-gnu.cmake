# 64-bit ARM, tested under qemu-aarch64.
set(cross_cpu aarch64)
set(cross_debian_arch arm64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
