// Not built: a player source that names the module record, which the layer
// check must reject (tests/CMakeLists.txt runs it on this folder).
extern struct In_Module plugin_module;
