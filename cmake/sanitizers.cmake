# TOLVANE_SANITIZE=address builds everything with ASan and UBSan, =thread with
# TSan. Applied globally so the tests and the module agree.
if(TOLVANE_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(TOLVANE_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT TOLVANE_SANITIZE STREQUAL "")
    message(FATAL_ERROR "TOLVANE_SANITIZE must be empty, 'address' or 'thread'")
endif()

# libFuzzer builds instrument everything for coverage; only the fuzz targets
# link libFuzzer's main. FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION is the usual
# mark of such a build: the platform layer then turns sleeps into yields, so a
# whole play runs in microseconds instead of the engine's real-time waits.
if(TOLVANE_LIBFUZZER)
    add_compile_options(-fsanitize=fuzzer-no-link)
    add_compile_definitions(FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION)
endif()
