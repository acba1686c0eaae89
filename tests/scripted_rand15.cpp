#include "scripted_rand15.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rand15.h"

namespace {

std::vector<int> script;
std::size_t position;
int seeds;
unsigned seed_value;
int unseeded_draws;

void load_script_from_environment()
{
    const char* text = std::getenv("SCRIPTED_DRAWS");
    for (char* end = nullptr; text != nullptr && *text != '\0'; text = end + (*end == ',')) {
        script.push_back(static_cast<int>(std::strtol(text, &end, 10)));
        if (end == text)
            break;
    }
}

} // namespace

void set_script(std::vector<int> draws)
{
    script = std::move(draws);
    position = 0;
}

int seed_count()
{
    return seeds;
}

unsigned last_seed()
{
    return seed_value;
}

int draws_before_first_seed()
{
    return unseeded_draws;
}

void rand15_seed(unsigned seed)
{
    ++seeds;
    seed_value = seed;
    std::fprintf(stderr, "seed %u\n", seed);
}

int rand15_draw()
{
    if (seeds == 0)
        ++unseeded_draws;
    if (script.empty())
        load_script_from_environment();
    if (script.empty())
        return 0;
    int draw = script[position];
    position = (position + 1) % script.size();
    return draw;
}
