#include "platform/board.h"

namespace platform {

const char* boardName()
{
    return "sim";
}

bool isSimulated()
{
    return true;
}

}
