# Compiles a machine image into a source file: a function NAME returning the
# file's text from a raw string literal. Run at build time by
# machine/CMakeLists.txt:
#   cmake -DINPUT=image.reg -DOUTPUT=image.cpp -DNAME=Function -P embed_image.cmake
file(READ ${INPUT} text)
set(delimiter plgimage)
string(FIND "${text}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} holds the raw string's closing sequence )${delimiter}\"")
endif()
get_filename_component(name ${INPUT} NAME)
file(WRITE ${OUTPUT}
  "// Generated at build time from machine/images/${name}: edit that file.\n"
  "#include <string_view>\n\n"
  "namespace plg {\n\n"
  "std::string_view ${NAME}() {\n"
  "  return R\"${delimiter}(${text})${delimiter}\";\n"
  "}\n\n"
  "}  // namespace plg\n")
