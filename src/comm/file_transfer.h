#pragma once
#include "base/atomic_file.h"
#include "base/global.h"

#include <cstdint>
#include <string>

// The uploads collect their data in fileBuf_kelto. One transfer at a time owns it: the protocol
// handlers hold Utils::_file_deal_mutex for a whole request, over the buffer, the transfer record
// and the file operations alike. The screenshot has a buffer of its own and never touches it.
constexpr uint32_t kStagingSize = uint32_t(kFileBufSize);

namespace file_transfer {
// A transfer nobody continues for 30 s is dropped, so a tool that vanished mid-way does not keep
// the others from uploading. The cloud certificate upload keeps the same limit.
constexpr uint32_t kIdleTicks = 3000;

// A received file name: 1-255 bytes, no "/", no NUL, no control character, not "." or "..".
bool isPlainName(const std::string& name);
// Longest name a stored file can take: its temporary name (temporaryFor) must still fit the file
// system's 255.
constexpr size_t kMaxStoredName = 255 - std::char_traits<char>::length(kAtomicTempSuffix);
// Start-up, before any transport runs: removes what a killed writer left beside the files of the
// uploads, the USB upgrade and the Wi-Fi access point (temporary files, a program set aside for
// its check start or staged by a cut upgrade run).
void removeLeftovers();

// Writes data to a temporary file beside `path` (program path), flushes it, reads it back and
// compares, then renames it over `path`. On any failure the old file stays and false is returned.
// mode: permission bits of the new file. The caller holds Utils::_file_deal_mutex.
bool writeVerified(const std::string& path, const uint8_t* data, uint32_t length, unsigned mode = 0644);

// The uploads count the times they change the staging buffer, so that a cloud certificate
// transfer can tell that its bytes were overwritten between its start and its end. The count lives
// with the buffer (fileBuf_kelto_changes), which the USB upgrade overwrites too.
void stagingChanged();
uint32_t stagingChanges();
// The staging buffer is free for the peer (request_peer): no transfer of another peer is open (one
// left silent too long is dropped first). The caller holds Utils::_file_deal_mutex.
bool stagingFreeFor(uint64_t peer);
}
