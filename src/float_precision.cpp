#include "float_precision.h"

void set_double_precision()
{
#if (defined(__i386__) || defined(__x86_64__)) && !defined(__SSE2_MATH__)
    // Bits 8-9 of the x87 control word choose the significand that results
    // round to: 0b10 is double's 53 bits. Rounding then happens once, as for
    // a double; only the exponent keeps its wider range, which vormel's
    // numbers never reach.
    constexpr unsigned short kPrecisionBits = 0x300;
    constexpr unsigned short kDoublePrecision = 0x200;
    unsigned short control;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    control = static_cast<unsigned short>((control & ~kPrecisionBits) | kDoublePrecision);
    __asm__ volatile("fldcw %0" : : "m"(control));
#endif
}
