#include "platform/board.h"

namespace platform {

const char* boardName()
{
    return "linux";
}

bool isSimulated()
{
    return false;
}

void configureBoard() {}

}
