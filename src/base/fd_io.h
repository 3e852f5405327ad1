#pragma once
#include <cstddef>
#include <cstdint>

// Whole reads and writes on a descriptor: a short read or write is continued, EINTR retried.
bool readFullyAt(int fd, uint64_t position, void* out, size_t n); // false on an error or the file's end
bool writeFully(int fd, const void* data, size_t n);
