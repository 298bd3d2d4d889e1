// .zwb packing with the zlib the tools link, and unpacking with the
// readers' inflation.

#include "containers/compressed_bank_writer.h"

#include <string.h>
#include <zlib.h>

#include "codec/little_endian.h"
#include "containers/compressed_bank.h"
#include "containers/memory_inflation.h"
#include "platform/platform.h"

typedef std::vector<uint8_t> bytes;

bool compress_bank(const bytes& bank, bytes* packed) {
    uLongf packed_bytes = compressBound((uLong)bank.size());
    packed->assign(COMPRESSED_BANK_STREAM_AT + (size_t)packed_bytes, 0);
    memcpy(packed->data(), "ZWB", 3);
    write_u32le(packed->data() + COMPRESSED_BANK_SIZE_AT, (uint32_t)bank.size());
    if (compress2(packed->data() + COMPRESSED_BANK_STREAM_AT, &packed_bytes, bank.data(), (uLong)bank.size(),
                  Z_DEFAULT_COMPRESSION) != Z_OK)
        return false;
    packed->resize(COMPRESSED_BANK_STREAM_AT + (size_t)packed_bytes);
    return true;
}

bool inflate_bank_file(const char* path, const inflater_source* inflater, std::vector<uint8_t>* bank) {
    file_handle file = file_open_read(path);
    if (file == INVALID_FILE) return false;
    uint8_t head[COMPRESSED_BANK_STREAM_AT];
    bool read = file_read(file, head, sizeof head) == (int32_t)sizeof head;
    int64_t size = read ? read_u32le(head + COMPRESSED_BANK_SIZE_AT) : 0;
    memory_inflation inflation;
    bool whole = read && memory_inflation_begin(&inflation, file, inflater, size);
    if (whole) {
        whole = memory_inflation_reach(&inflation, size) && inflation.out_bytes == size;
        if (whole) bank->assign(inflation.out, inflation.out + size);
        memory_inflation_end(&inflation);
    }
    file_close(file);
    return whole;
}
