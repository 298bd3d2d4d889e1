# One interface target carries the warning flags for every target of ours.
add_library(tolvane_warnings INTERFACE)
target_compile_options(tolvane_warnings INTERFACE
    -Wall -Wextra -Wshadow -Wpointer-arith -Wcast-qual -Wformat=2 -Wundef
)
