#include "platform/sim/devices/edid_eeprom.h"

#include <cstdio>

namespace platform::Sim {

EdidEeprom::EdidEeprom(int input) : input_(input)
{
    mem_.fill(0xFF);
}

bool EdidEeprom::address(bool read, size_t len, uint64_t nowUs)
{
    std::lock_guard<std::mutex> lock(m_);
    if (nowUs < busyUntil_) {
        ++busyRefusals_;
        if (!read && len > 1)
            ++refusedPageWrites_;
        return false;
    }
    return true;
}

bool EdidEeprom::write(const uint8_t* data, size_t len, uint64_t nowUs)
{
    std::lock_guard<std::mutex> lock(m_);
    if (len == 0)
        return true;
    pointer_ = data[0];
    if (len == 1)
        return true;
    pageBase_ = uint8_t(pointer_ & ~(PageSize - 1));
    page_.fill(0);
    touched_.fill(false);
    for (size_t i = 1; i < len; ++i) {
        const size_t slot = pointer_ % PageSize;
        page_[slot] = data[i];
        touched_[slot] = true;
        pointer_ = uint8_t(pageBase_ + (slot + 1) % PageSize);
    }
    pending_ = true;
    return true;
}

bool EdidEeprom::read(uint8_t* data, size_t len, uint64_t)
{
    std::lock_guard<std::mutex> lock(m_);
    for (size_t i = 0; i < len; ++i)
        data[i] = mem_[pointer_++];
    return true;
}

void EdidEeprom::stop(uint64_t nowUs)
{
    std::function<bool()> line;
    {
        std::lock_guard<std::mutex> lock(m_);
        if (!pending_)
            return;
        line = protectLine_;
    }
    const bool isProtected = line && line(); // read outside the lock: the line belongs to others
    std::lock_guard<std::mutex> lock(m_);
    pending_ = false;
    if (isProtected) {
        ++protectedWrites_;
        char text[96];
        std::snprintf(text, sizeof text, "EEPROM %d: page write at 0x%02X while write-protected", input_, pageBase_);
        violations_.push_back(text);
        return;
    }
    for (size_t i = 0; i < PageSize; ++i)
        if (touched_[i])
            mem_[pageBase_ + i] = page_[i];
    ++pageWrites_;
    busyUntil_ = nowUs + cycleUs_;
}

std::vector<std::string> EdidEeprom::violations() const
{
    std::lock_guard<std::mutex> lock(m_);
    return violations_;
}

void EdidEeprom::reset()
{
    {
        std::lock_guard<std::mutex> lock(m_);
        pointer_ = 0;
        pending_ = false;
        cycleUs_ = DefaultWriteCycleUs;
        busyUntil_ = 0;
        pageWrites_ = protectedWrites_ = busyRefusals_ = refusedPageWrites_ = 0;
        violations_.clear();
    }
    setPresent(true);
}

void EdidEeprom::setProtectLine(std::function<bool()> line)
{
    std::lock_guard<std::mutex> lock(m_);
    protectLine_ = std::move(line);
}

std::array<uint8_t, EdidEeprom::Size> EdidEeprom::contents() const
{
    std::lock_guard<std::mutex> lock(m_);
    return mem_;
}

void EdidEeprom::setContents(const std::array<uint8_t, Size>& bytes)
{
    std::lock_guard<std::mutex> lock(m_);
    mem_ = bytes;
}

void EdidEeprom::erase()
{
    std::lock_guard<std::mutex> lock(m_);
    mem_.fill(0xFF);
}

void EdidEeprom::setWriteCycleUs(uint64_t us)
{
    std::lock_guard<std::mutex> lock(m_);
    cycleUs_ = us;
}

bool EdidEeprom::busy(uint64_t nowUs) const
{
    std::lock_guard<std::mutex> lock(m_);
    return nowUs < busyUntil_;
}

int EdidEeprom::pageWrites() const
{
    std::lock_guard<std::mutex> lock(m_);
    return pageWrites_;
}

int EdidEeprom::protectedWrites() const
{
    std::lock_guard<std::mutex> lock(m_);
    return protectedWrites_;
}

int EdidEeprom::busyRefusals() const
{
    std::lock_guard<std::mutex> lock(m_);
    return busyRefusals_;
}

int EdidEeprom::refusedPageWrites() const
{
    std::lock_guard<std::mutex> lock(m_);
    return refusedPageWrites_;
}

void EdidEeprom::clearViolations()
{
    std::lock_guard<std::mutex> lock(m_);
    violations_.clear();
}

}
