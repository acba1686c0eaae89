# 64-bit POWER, little-endian (Debian's ppc64el), tested under qemu-ppc64le.
set(cross_cpu ppc64le)
set(cross_triplet powerpc64le-linux-gnu)
set(cross_debian_arch ppc64el)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
