// Little-endian field access for every file format and the decoder: fields
// are assembled from bytes with shifts, never by casting a struct over them.
#pragma once

#include <stdint.h>

inline uint16_t read_u16le(const uint8_t* p) {
    return (uint16_t)(p[0] | (p[1] << 8));
}

inline int16_t read_s16le(const uint8_t* p) {
    return (int16_t)read_u16le(p);
}

inline uint32_t read_u32le(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

inline int32_t read_s32le(const uint8_t* p) {
    return (int32_t)read_u32le(p);
}
