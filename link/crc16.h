// CRC-16/ARC: polynomial 0xA001 reflected, register started at the given
// value, no final inversion. A block followed by its own CRC, low byte first,
// yields 0.
#pragma once

#include <cstddef>
#include <cstdint>

uint16_t Crc16(const uint8_t* data, size_t length, uint16_t crc = 0);
