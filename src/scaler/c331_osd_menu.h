#pragma once
#include "params/omenu_file.h"

#include <cstdint>

class c331_manage;

// Programs the scaler's OSD from the on-screen menu's first item; ledW/ledH are the block's LED
// width and height, which bound the item's width and top.
void set_OSD_para(OSD_LIST& list, c331_manage& scaler, uint16_t ledW, uint16_t ledH);
