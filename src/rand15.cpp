#include "rand15.h"

namespace {
Rand15 generator;
}

void rand15_seed(unsigned seed)
{
    generator.next = seed;
}

int rand15_draw()
{
    return generator.draw();
}
