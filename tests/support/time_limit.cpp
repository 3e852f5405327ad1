#include "time_limit.h"

#include <climits>

namespace TimeLimit {

int factor()
{
    return VYR_TIME_FACTOR; // tests/support/time_limit.cmake
}

int ms(int quietHostMs)
{
    const long long scaled = static_cast<long long>(quietHostMs) * factor();
    return scaled > INT_MAX ? INT_MAX : int(scaled);
}

}
