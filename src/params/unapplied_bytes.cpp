#include "params/unapplied_bytes.h"

void UnappliedBytes::note(const uint8_t* block, uint32_t offset, const uint8_t* data, uint32_t n)
{
    for (uint32_t i = offset; i < offset + n && i < kBlockSize; ++i) {
        // Only the first of several writes keeps the box's value; one overwritten by another
        // writer since is that writer's.
        if (!toolByte(block, i))
            before_[i] = block[i];
        wrote_[i] = data[i - offset];
        written_.set(i);
    }
    any_ = any_ || n != 0;
}

void UnappliedBytes::take(uint32_t offset, uint32_t n)
{
    if (!any_)
        return;
    for (uint32_t i = offset; i < offset + n && i < kBlockSize; ++i)
        written_.reset(i);
}

bool UnappliedBytes::setUnder(const uint8_t* block, uint32_t i, uint8_t value)
{
    if (i >= kBlockSize || !toolByte(block, i))
        return false;
    before_[i] = value;
    return true;
}

void UnappliedBytes::clear()
{
    if (!any_)
        return;
    written_.reset();
    any_ = false;
}

void UnappliedBytes::putBack(uint8_t* copy) const
{
    if (!any_)
        return;
    for (uint32_t i = 0; i < kBlockSize; ++i)
        if (toolByte(copy, i))
            copy[i] = before_[i];
}
