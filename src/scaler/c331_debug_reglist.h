#pragma once
#include <cstdint>
#include <vector>

// Registers the console dump reads, as descriptors (bank << 16 | address << 8 | width) in
// ascending bank and address order, none overlapping another, none in the flash controller's bank.
const std::vector<uint32_t>& c331RegisterList();
