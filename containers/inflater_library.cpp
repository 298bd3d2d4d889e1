// The system inflater on Windows: "zlib1.dll", loaded for one inflation and
// released after it, its four functions looked up by name in table order.

#include "containers/inflater.h"

bool get_system_inflater(inflate_table* table, library_handle* library) {
    *library = library_load("zlib1.dll");
    if (!*library) return false;
    table->inflate_reset = (int (*)(z_streamp))library_symbol(*library, "inflateReset");
    table->inflate_init = (int (*)(z_streamp, const char*, int))library_symbol(*library, "inflateInit_");
    table->inflate = (int (*)(z_streamp, int))library_symbol(*library, "inflate");
    table->inflate_end = (int (*)(z_streamp))library_symbol(*library, "inflateEnd");
    return true;
}
