# One place for the project's warning flags; every target links trellon_warnings.
add_library(trellon_warnings INTERFACE)
target_compile_options(trellon_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
  -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
if(TRELLON_WERROR)
  target_compile_options(trellon_warnings INTERFACE -Werror)
endif()
