#include "same_file.h"

#include <sys/stat.h>
#include <unistd.h>

bool input_is_output(int input_fd, int output_fd)
{
    struct stat input;
    struct stat output;
    if (fstat(input_fd, &input) != 0 || fstat(output_fd, &output) != 0)
        return false;
    if (!S_ISREG(input.st_mode) || input.st_dev != output.st_dev || input.st_ino != output.st_ino)
        return false;
    off_t position = lseek(input_fd, 0, SEEK_CUR);
    return position >= 0 && position < input.st_size;
}
