#include "panel_store.h"

#include "test_root.h"

#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"

#include <QByteArray>

namespace Panel {

void clearCrops(VyrRamPara* s)
{
    for (uint32_t k = 0; k < kCropCount; ++k)
        s->setU16(blk::cropField(k, blk::crop::kId), 0);
}

void setInputTiming(VyrRamPara* s, int input, int w, int h, int rate)
{
    s->setU16(blk::inputResolution(input), uint16_t(w));
    s->setU16(blk::inputResolution(input) + 2, uint16_t(h));
    s->setU16(blk::inputResolution(input) + 4, uint16_t(rate));
}

int savedByte(uint32_t offset)
{
    const QByteArray file = TestRoot::readFile("/data/ram_device_info");
    const int at = int(2 + offset - kPersistStart);
    return at < file.size() ? uint8_t(file.at(at)) : -1;
}

uint8_t changeFlag() { return c331_manage::p_c331_manage->change_flag; }

void clearFlag() { c331_manage::p_c331_manage->change_flag = 0; }

}
