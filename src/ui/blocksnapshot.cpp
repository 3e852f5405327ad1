#include "ui/blocksnapshot.h"

#include "base/posix_lock.h"
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
    PosixLock records(store->mutex); // inside the hand-over lock, as the save takes them
    memcpy(block_, store->block, kBlockSize);
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
