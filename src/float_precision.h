#pragma once

// Makes this thread's floating-point arithmetic round every result to double
// precision, as a tag is defined. Only the x87 unit, which 32-bit x86 code
// uses for doubles, needs telling: it keeps 64-bit significands in its
// registers, and a result rounded there and again when stored can differ from
// the double product. Every other unit vormel runs on computes doubles in
// double precision, and there this does nothing. Call it before any
// floating-point work; threads started afterwards inherit the setting.
void set_double_precision();
