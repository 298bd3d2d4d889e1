// Telling well-formed UTF-8 from other bytes.

#include "tools/tolvane/cli/utf8.h"

size_t utf8_sequence_length(const std::string& text, size_t at) {
    unsigned char lead = (unsigned char)text[at];
    if (lead < 0x80) return 1;
    size_t length = lead >= 0xf0 && lead <= 0xf4 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 && lead <= 0xdf ? 2 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k)
        if (((unsigned char)text[at + k] & 0xc0) != 0x80) return 0;
    unsigned char second = (unsigned char)text[at + 1];
    if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second > 0x9f) || (lead == 0xf0 && second < 0x90) ||
        (lead == 0xf4 && second > 0x8f))
        return 0;
    return length;
}
