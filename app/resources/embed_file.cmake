# cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DFUNCTION=<name> -DNAMESPACE=<ns> -DHEADER=<include>
#       -P embed_file.cmake
# Writes a C++ source that defines `std::span<const std::uint8_t> NAMESPACE::FUNCTION()`
# returning the bytes of INPUT.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Break the byte list into lines of 16 values.
string(REPEAT "0x..," 16 sixteen)
string(REGEX REPLACE "(${sixteen})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} by embed_file.cmake; do not edit.
#include \"${HEADER}\"

namespace ${NAMESPACE} {

namespace {
const std::uint8_t kBytes[${size}] = {
    ${bytes}
};
} // namespace

std::span<const std::uint8_t> ${FUNCTION}() { return {kBytes, sizeof kBytes}; }

} // namespace ${NAMESPACE}
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
