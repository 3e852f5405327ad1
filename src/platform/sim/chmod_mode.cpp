#include "platform/sim/chmod_mode.h"

#include <cstring>

namespace platform::Sim {
namespace {

bool parseOctal(const char* text, unsigned* result)
{
    const size_t n = std::strlen(text);
    if (n == 0 || n > 4 || std::strspn(text, "01234567") != n)
        return false;
    unsigned value = 0;
    for (size_t i = 0; i < n; ++i)
        value = value * 8 + unsigned(text[i] - '0');
    *result = value;
    return true;
}

unsigned whoMask(char c)
{
    switch (c) {
    case 'u': return 04700;
    case 'g': return 02070;
    case 'o': return 01007;
    default: return 07777;
    }
}

unsigned permBits(char c, unsigned mode, bool isDirectory)
{
    switch (c) {
    case 'r': return 0444;
    case 'w': return 0222;
    case 'x': return 0111;
    case 'X': return (isDirectory || (mode & 0111)) ? 0111 : 0;
    case 's': return 06000;
    case 't': return 01000;
    default: return 0;
    }
}

}

bool applyChmodMode(const char* text, unsigned current, bool isDirectory, unsigned* result)
{
    if (parseOctal(text, result))
        return true;
    unsigned mode = current;
    const char* p = text;
    for (;;) {
        unsigned who = 0;
        for (; *p && std::strchr("ugoa", *p); ++p)
            who |= whoMask(*p);
        if (who == 0)
            who = 07777;
        if (!*p || !std::strchr("+-=", *p))
            return false;
        while (*p && std::strchr("+-=", *p)) {
            const char op = *p++;
            unsigned bits = 0;
            for (; *p && std::strchr("rwxXst", *p); ++p)
                bits |= permBits(*p, current, isDirectory);
            bits &= who;
            if (op == '+')
                mode |= bits;
            else if (op == '-')
                mode &= ~bits;
            else
                mode = (mode & ~who) | bits;
        }
        if (*p == '\0')
            break;
        if (*p != ',')
            return false;
        ++p;
    }
    *result = mode & 07777;
    return true;
}

}
