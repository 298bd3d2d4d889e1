// UTF-8 as the tool's outputs test it: JSON strings and file labels keep
// names' characters that are well-formed UTF-8 and escape every other byte.
#pragma once

#include <stddef.h>

#include <string>

// The length of the well-formed UTF-8 sequence starting at text[at] (1 for
// ASCII), or 0 when the bytes there are not one: overlong forms, surrogates,
// values past U+10FFFF and sequences cut short are not UTF-8.
size_t utf8_sequence_length(const std::string& text, size_t at);
