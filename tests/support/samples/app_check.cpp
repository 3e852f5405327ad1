// The application check as a program of its own, built without position independence: it
// prints the refusal of the file named by its argument ("accepted" when there is none).
#include "tools/program_image.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::string refused = program_image::fileRefusal(argv[1]);
    std::puts(refused.empty() ? "accepted" : refused.c_str());
    return 0;
}
