# Warnings every target of the project is built with; they are errors.
add_library(kavro_warnings INTERFACE)
target_compile_options(kavro_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
    -Wcast-align -Wformat=2 -Wimplicit-fallthrough -Werror)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(kavro_warnings INTERFACE -Wthread-safety)
endif()
