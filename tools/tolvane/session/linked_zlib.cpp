// The linked zlib's four functions, in the readers' table.

#include "tools/tolvane/session/linked_zlib.h"

namespace {

bool linked_inflater(void*, inflate_table* table, library_handle* library) {
    *library = nullptr;
    table->inflate_reset = inflateReset;
    table->inflate_init = inflateInit_;
    table->inflate = inflate;
    table->inflate_end = inflateEnd;
    return true;
}

}  // namespace

const inflater_source LINKED_ZLIB = {linked_inflater, nullptr};
