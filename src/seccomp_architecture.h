#pragma once

#include <linux/audit.h>

#include <cstdint>

// The calling convention this program is compiled for, as seccomp names it,
// read from the compiler's own macros, not the build machine's name for its
// CPU (x86_64 for an x32 or -m32 build too); 0 where none is known here.
#if defined(__x86_64__) && !defined(__ILP32__)
inline constexpr std::uint32_t kSeccompArchitecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__) && !defined(__ILP32__)
inline constexpr std::uint32_t kSeccompArchitecture = AUDIT_ARCH_AARCH64;
#elif defined(__s390x__)
inline constexpr std::uint32_t kSeccompArchitecture = AUDIT_ARCH_S390X;
#elif defined(__i386__)
inline constexpr std::uint32_t kSeccompArchitecture = AUDIT_ARCH_I386;
#elif defined(__arm__) && defined(__ARM_EABI__) && !defined(__ARMEB__)
inline constexpr std::uint32_t kSeccompArchitecture = AUDIT_ARCH_ARM;
#elif defined(__powerpc64__) && defined(__LITTLE_ENDIAN__)
inline constexpr std::uint32_t kSeccompArchitecture = AUDIT_ARCH_PPC64LE;
#else
inline constexpr std::uint32_t kSeccompArchitecture = 0;
#endif
