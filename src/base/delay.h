#pragma once
#include <cstdint>

// Every fixed pause of the program (start delay, file pauses) goes through here, so tests can
// shorten them. The scale is a percentage: 100 on the box, 0 in tests.
namespace Delay {
void ms(uint32_t milliseconds);
void us(uint32_t microseconds);
void setScalePercent(uint32_t percent);
}
