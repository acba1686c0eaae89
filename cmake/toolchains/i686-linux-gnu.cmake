# 32-bit x86 (Debian's i386), whose doubles go through the x87 unit, tested
# under qemu-i386.
set(cross_cpu i686)
set(cross_multiarch i386-linux-gnu)
set(cross_qemu i386)
set(cross_debian_arch i386)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
