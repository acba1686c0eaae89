#pragma once

#include <vector>

// The generator's stand-in for tests. Its draws follow a script, repeated
// from the start when used up; the script comes from set_script() or from the
// environment variable SCRIPTED_DRAWS ("0,32767,65534"). Every seeding is
// counted and logged to standard error as "seed N".
void set_script(std::vector<int> draws);
int seed_count();
unsigned last_seed();
int draws_before_first_seed();
