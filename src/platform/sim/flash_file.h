#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mtd.h"

namespace platform::Sim {

// The flash partitions of the simulated board, each a file under the root with NAND rules:
// erase sets a whole block to 0xFF, a program can only clear bits (new = old AND data).
class FlashFiles : public Mtd {
public:
    static constexpr uint32_t EraseSize = 0x10000;
    static constexpr uint32_t WriteSize = 2048;

    int open(const std::string& path) override;
    int close(int fd) override;
    int getInfo(int fd, MtdInfo* info) override;
    int unlock(int fd, const EraseInfo& range) override;
    int erase(int fd, const EraseInfo& range) override;
    ssize_t pwrite(int fd, const void* data, size_t length, off_t offset) override;

    void failGetInfo(bool fail);
    void failEraseAt(int64_t blockStart);
    std::vector<std::string> calls() const;
    void clearCalls();
    std::vector<std::string> violations() const;
    std::vector<uint8_t> contents(const std::string& device);

private:
    struct Partition {
        std::string device;
        uint32_t size = 0;
    };
    int openBacking(const std::string& device, uint32_t size);
    const Partition* partition(int fd) const; // nullptr with errno EBADF
    const Partition* eraseTarget(int fd, const EraseInfo& range) const; // nullptr with errno set
    void note(const char* format, ...);

    mutable std::mutex mutex_;
    std::map<int, Partition> open_;
    std::vector<std::string> calls_;
    std::vector<std::string> violations_;
    bool failGetInfo_ = false;
    int64_t failEraseAt_ = -1;
};

FlashFiles& flashFiles();

}
