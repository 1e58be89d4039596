# Writes a C++ source that defines a file's bytes as an array, so a program carries the file
# without reading it at run time.
#   cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DNAMESPACE=<ns> -DSYMBOL=<name> -P embed_file.cmake
# defines `const unsigned char <SYMBOL>[]` and `const size_t <SYMBOL>Size` in namespace NAMESPACE.
file(READ "${INPUT}" _hex HEX)
string(LENGTH "${_hex}" _hex_length)
math(EXPR _size "${_hex_length} / 2")
# Sixteen bytes per line (CMake's regular expressions have no counted repetition).
string(REPEAT "[0-9a-f]" 32 _line_pattern)
string(REGEX REPLACE "(${_line_pattern})" "\\1\n    " _hex "${_hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
if(_size EQUAL 0)
    set(_bytes "0x00")
endif()
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT}; do not edit.
#include <cstddef>

namespace ${NAMESPACE} {
extern const unsigned char ${SYMBOL}[];
extern const size_t ${SYMBOL}Size;
const unsigned char ${SYMBOL}[] = {
    ${_bytes}
};
const size_t ${SYMBOL}Size = ${_size};
}  // namespace ${NAMESPACE}
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
