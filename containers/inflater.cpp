// Finding an inflater: first the host's, through its inflate-table query.

#include "containers/inflater.h"

#include "host/winamp_host.h"

namespace {

bool table_is_complete(const inflate_table* table) {
    return table->inflate_reset && table->inflate_init && table->inflate && table->inflate_end;
}

}  // namespace

bool get_inflater(window_ref main_window, inflate_table* table, library_handle* library) {
    *library = nullptr;
    intptr_t answer = 0;
    if (main_window)
        answer = window_send_message(main_window, HOST_MSG_QUERY, HOST_QUERY_INFLATE_WPARAM, HOST_QUERY_INFLATE_LPARAM);
    if (answer != 0) {
        // The host's table is taken as it is; an empty entry in it is as
        // good as no inflater, since calling through it would crash.
        *table = *(const inflate_table*)answer;
        return table_is_complete(table);
    }
    if (!get_system_inflater(table, library)) return false;
    if (table_is_complete(table)) return true;
    library_free(*library);
    *library = nullptr;
    return false;
}
