// Field access for every file format and the decoder: fields are assembled
// from bytes with shifts, never by casting a struct over them, and written
// back the same way by the tools that make files. Everything is little-endian
// but the Xbox 360's files, which are read big-endian.
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

inline uint16_t read_u16be(const uint8_t* p) {
    return (uint16_t)((p[0] << 8) | p[1]);
}

inline uint32_t read_u32be(const uint8_t* p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

inline void write_u16le(uint8_t* p, uint16_t value) {
    p[0] = (uint8_t)value;
    p[1] = (uint8_t)(value >> 8);
}

inline void write_u32le(uint8_t* p, uint32_t value) {
    write_u16le(p, (uint16_t)value);
    write_u16le(p + 2, (uint16_t)(value >> 16));
}

inline void write_u16be(uint8_t* p, uint16_t value) {
    p[0] = (uint8_t)(value >> 8);
    p[1] = (uint8_t)value;
}

inline void write_u32be(uint8_t* p, uint32_t value) {
    write_u16be(p, (uint16_t)(value >> 16));
    write_u16be(p + 2, (uint16_t)value);
}
