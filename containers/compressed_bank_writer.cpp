// .zwb packing with the zlib the tools link.

#include "containers/compressed_bank_writer.h"

#include <string.h>
#include <zlib.h>

#include "codec/little_endian.h"
#include "containers/compressed_bank.h"

namespace {

typedef std::vector<uint8_t> bytes;

const size_t INFLATE_PIECE_BYTES = 1 << 16;

}  // namespace

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

bool inflate_bank(const bytes& packed, bytes* bank) {
    if (packed.size() < (size_t)COMPRESSED_BANK_STREAM_AT) return false;
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(packed.data() + COMPRESSED_BANK_STREAM_AT);
    stream.avail_in = (uInt)(packed.size() - COMPRESSED_BANK_STREAM_AT);
    bank->clear();
    uint8_t out[INFLATE_PIECE_BYTES];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = out;
        stream.avail_out = sizeof out;
        result = inflate(&stream, Z_NO_FLUSH);
        bank->insert(bank->end(), out, out + (sizeof out - stream.avail_out));
        if (result == Z_BUF_ERROR && stream.avail_in == 0) break;
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}
