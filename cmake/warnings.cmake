# One interface target carries the warning flags for every target of ours.
add_library(tolvane_warnings INTERFACE)
target_compile_options(tolvane_warnings INTERFACE
    -Wall -Wextra -Wshadow -Wpointer-arith -Wcast-qual -Wformat=2 -Wundef
)

# The werror preset turns every warning into an error, so CI keeps the build
# free of them.
option(TOLVANE_WERROR "Treat compiler warnings as errors" OFF)
if(TOLVANE_WERROR)
    target_compile_options(tolvane_warnings INTERFACE -Werror)
endif()
