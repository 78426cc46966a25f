# Writes OUT: a C++ source that embeds every DIR/ID_name.png and defines
# vokar::platform::load_image(id). Run with cmake -P at build time.
file(GLOB files "${DIR}/*.png")
list(SORT files)
set(arrays "")
set(cases "")
foreach(f IN LISTS files)
  get_filename_component(name "${f}" NAME)
  if(NOT name MATCHES "^([0-9]+)_")
    message(FATAL_ERROR "image file name must start with its id: ${name}")
  endif()
  set(id "${CMAKE_MATCH_1}")
  file(READ "${f}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const uint8_t kImage${id}[] = {${bytes}};\n")
  string(APPEND cases "    case ${id}:\n        return kImage${id};\n")
endforeach()
file(WRITE "${OUT}.tmp" "// Generated from resources/images by resources/embed_images.cmake.
#include \"platform/images.h\"

namespace vokar::platform {
namespace {
${arrays}} // namespace

std::span<const uint8_t> load_image(int id)
{
    switch (id) {
${cases}    default:
        return {};
    }
}

} // namespace vokar::platform
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
