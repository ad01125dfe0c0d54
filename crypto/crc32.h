// CRC-32 with the reflected ISO 3309 / IEEE 802.3 polynomial 0xEDB88320.
#pragma once

#include <cstddef>
#include <cstdint>

// The usual checksum: initial value 0xFFFFFFFF and final complement. Crc32Update continues
// from a previous result, so a file can be checked in pieces starting from 0.
std::uint32_t Crc32(const void* data, std::size_t length);
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t length);

// The bare register update without the initial and final inversion. SSH-1 packets carry
// Crc32Raw(0, ...) over padding, type and data.
std::uint32_t Crc32Raw(std::uint32_t state, const void* data, std::size_t length);
