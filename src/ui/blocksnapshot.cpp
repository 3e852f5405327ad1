#include "ui/blocksnapshot.h"

#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"

#include <cstring>

BlockSnapshot::BlockSnapshot(VyrRamPara* store)
{
    if (!store) {
        memset(block_, 0, kBlockSize);
        memset(shadow_, 0, kBlockSize);
        return;
    }
    ScalerHandOver handOver;
    store->appliedCopy(block_); // takes the store's mutex inside the hand-over, as the save does
    memcpy(shadow_, store->shadow, kBlockSize);
    valid_ = true;
}

uint32_t BlockSnapshot::audioField() const
{
    return blk::window(blk::audioWindow(block_), blk::win::kAudio);
}

bool BlockSnapshot::changed(uint32_t offset, uint32_t size) const
{
    return offset <= kBlockSize && size <= kBlockSize - offset && memcmp(block_ + offset, shadow_ + offset, size) != 0;
}
