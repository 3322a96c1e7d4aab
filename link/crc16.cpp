#include "link/crc16.h"

uint16_t Crc16(const uint8_t* data, size_t length, uint16_t crc)
{
    for (size_t i = 0; i < length; ++i) {
        uint8_t byte = data[i];
        for (int round = 0; round < 8; ++round) {
            const bool bit = ((crc ^ byte) & 1) != 0;
            crc = static_cast<uint16_t>(crc >> 1);
            if (bit)
                crc ^= 0xA001;
            byte = static_cast<uint8_t>(byte >> 1);
        }
    }
    return crc;
}
