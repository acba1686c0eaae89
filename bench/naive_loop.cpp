// The baseline a user might write first: one fgets and one printf per line.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main()
{
    char line[511];
    std::srand(static_cast<unsigned>(getpid() % 1000));
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        std::size_t length = std::strlen(line);
        if (length > 0 && line[length - 1] == '\n')
            line[length - 1] = '\0';
        std::printf("%s %8.0f\n", line, (std::rand() % 32768) / 32767.0 * 50000.0);
    }
    return 0;
}
