# Script mode: turns the bytes of INPUT into a comma-separated list of hexadecimal bytes in
# OUTPUT, for `static const char text[] = {
# include "templates/<name>.inc"
# };`. Included from the project file it only defines nothing.
if(CMAKE_SCRIPT_MODE_FILE AND DEFINED INPUT AND DEFINED OUTPUT)
  file(READ ${INPUT} content HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," content "${content}")
  get_filename_component(output_dir ${OUTPUT} DIRECTORY)
  file(MAKE_DIRECTORY ${output_dir})
  file(WRITE ${OUTPUT} "${content}\n")
endif()
