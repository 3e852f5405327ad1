#pragma once
#include <cstddef>
#include <memory>
#include <sys/types.h>

namespace platform {
// Kernel uevents ("add@/devices/...\0ACTION=add\0...").
class UeventSource {
public:
    virtual ~UeventSource() = default;
    virtual int fd() const = 0; // for poll
    virtual ssize_t receive(char* buffer, size_t length) = 0;
};
std::unique_ptr<UeventSource> openUeventSource();
}
