#pragma once
#include <cstdint>

class VyrRamPara;

// The parameter block as the page tests set it up, its saved copy, and the scaler's hand-over
// flag the pages raise.
namespace Panel {
void clearCrops(VyrRamPara* s); // every crop entry free
// An input's timing record (width, height, rate) as the input manager publishes it.
void setInputTiming(VyrRamPara* s, int input, int w, int h, int rate);
// The saved parameter file's byte for a block offset, -1 when the file does not hold it.
int savedByte(uint32_t offset);
uint8_t changeFlag();
void clearFlag();
}
