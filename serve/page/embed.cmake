# Writes OUT: for each file of FILES a byte array named by NAMES, in
# namespace serve::page_assets, so the home page's sources travel inside
# the program whatever characters they hold.
list(LENGTH FILES count)
math(EXPR last "${count} - 1")
set(text "// Generated at build time; do not edit.\n#include \"serve/page_assets.h\"\n\nnamespace serve::page_assets {\n")
foreach(k RANGE ${last})
  list(GET FILES ${k} file)
  list(GET NAMES ${k} name)
  file(READ ${file} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND text "static const unsigned char ${name}_bytes[] = {${bytes}0};\n")
  string(APPEND text "const std::string_view ${name}(reinterpret_cast<const char*>(${name}_bytes), ${size});\n")
endforeach()
string(APPEND text "}  // namespace serve::page_assets\n")
file(WRITE ${OUT} "${text}")
