# Warnings every target of the project is built with; they are errors.
add_library(kavro_warnings INTERFACE)
target_compile_options(kavro_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
    -Wcast-align -Wformat=2 -Wimplicit-fallthrough -Werror)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(kavro_warnings INTERFACE -Wthread-safety)
endif()
# At -O3, GCC 12 and later report overlapping or out-of-bounds copies inside the standard
# library's own string and algorithm code, where there are none; a Release build would stop on
# them. The other builds keep these checks.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
    target_compile_options(kavro_warnings INTERFACE
        $<$<CONFIG:Release>:-Wno-restrict -Wno-stringop-overflow -Wno-array-bounds>)
endif()
