#pragma once

// Returns a pseudo-random fraction in [0.0, 1.0], both ends included. The first
// call seeds the generator from the process id. Should the generator ever leave
// its range, the process ends here with a diagnostic on standard output.
double rand0_1();
