// The system inflater where the build links zlib (Linux and other POSIX
// hosts): nothing to load or release.

#include "containers/inflater.h"

bool get_system_inflater(inflate_table* table, library_handle* library) {
    *library = nullptr;
    table->inflate_reset = inflateReset;
    table->inflate_init = inflateInit_;
    table->inflate = inflate;
    table->inflate_end = inflateEnd;
    return true;
}
