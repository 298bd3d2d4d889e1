// Taking an inflater from its source, checked whole.

#include "containers/inflater.h"

namespace {

bool table_is_complete(const inflate_table* table) {
    return table->inflate_reset && table->inflate_init && table->inflate && table->inflate_end;
}

bool system_inflater(void*, inflate_table* table, library_handle* library) {
    return get_system_inflater(table, library);
}

}  // namespace

const inflater_source SYSTEM_INFLATER = {system_inflater, nullptr};

bool get_inflater(const inflater_source* source, inflate_table* table, library_handle* library) {
    *library = nullptr;
    if (!source || !source->get || !source->get(source->context, table, library)) return false;
    if (table_is_complete(table)) return true;
    library_free(*library);
    *library = nullptr;
    return false;
}
