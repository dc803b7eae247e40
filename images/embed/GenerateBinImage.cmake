# Writes the BinImage module (header, catalogue, embedded texts) from the image
# files. Run at build time:
#   cmake -DIMAGE_FILES="a;b;c" -DOUT_DIR=dir -DOBJECT_FORMAT=ELF|PE -P GenerateBinImage.cmake
# The texts are pulled in whole by the assembler (.incbin), so the compiler
# never parses millions of initialisers: the module compiles in a blink.
cmake_minimum_required(VERSION 3.20)

if(NOT IMAGE_FILES OR NOT OUT_DIR)
  message(FATAL_ERROR "IMAGE_FILES and OUT_DIR are required")
endif()
list(LENGTH IMAGE_FILES image_count)

set(decls "")
set(entries "")
set(asm "")
if(OBJECT_FORMAT STREQUAL "PE")
  set(section ".section .rdata,\\\"dr\\\"")
else()
  set(section ".section .rodata")
endif()

foreach(path IN LISTS IMAGE_FILES)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "image file not found: ${path}")
  endif()
  get_filename_component(name "${path}" NAME)
  string(LENGTH "${name}" name_length)
  if(name_length GREATER 69)
    message(FATAL_ERROR "image file name longer than 69 characters: ${name}")
  endif()
  string(REGEX REPLACE "[-.]" "_" symbol "${name}")
  file(SIZE "${path}" size)
  math(EXPR dimension "${size} + 1")
  file(TO_CMAKE_PATH "${path}" asm_path)

  string(APPEND decls "extern \"C\" const char ${symbol}[${dimension}];\n")
  string(APPEND entries "    {\"${name}\", ${name_length}, ${symbol}, ${size}},\n")
  string(APPEND asm "    \"${section}\\n\"\n")
  string(APPEND asm "    \".balign 16\\n\"\n")
  string(APPEND asm "    \".globl ${symbol}\\n\"\n")
  if(NOT OBJECT_FORMAT STREQUAL "PE")
    string(APPEND asm "    \".type ${symbol}, @object\\n\"\n")
  endif()
  string(APPEND asm "    \"${symbol}:\\n\"\n")
  string(APPEND asm "    \".incbin \\\"${asm_path}\\\"\\n\"\n")
  string(APPEND asm "    \".byte 0\\n\"\n")
  if(NOT OBJECT_FORMAT STREQUAL "PE")
    string(APPEND asm "    \".size ${symbol}, . - ${symbol}\\n\"\n")
  endif()
endforeach()

file(WRITE "${OUT_DIR}/BinImage.h.new"
"// Generated from the image files at build time; do not edit.
#ifndef _AUTOGEN_BINIMAGE_H_
#define _AUTOGEN_BINIMAGE_H_

typedef struct {
    char filePath[70];
    char filePathLength;
    const char *fileData;
    int fileDataLength;
} autogen_files;

${decls}
extern const autogen_files AUTOGEN_FILES[${image_count}];

#endif
")

file(WRITE "${OUT_DIR}/BinImage.cpp.new"
"// Generated from the image files at build time; do not edit.
#include \"BinImage.h\"

const autogen_files AUTOGEN_FILES[${image_count}] = {
${entries}};
")

file(WRITE "${OUT_DIR}/BinImageData.cpp.new"
"// Generated from the image files at build time; do not edit.
// Each text is the file's bytes followed by one zero byte.
__asm__(
${asm}    \".text\\n\");
")

# Only touch what changed, so an unchanged image set rebuilds nothing.
foreach(out BinImage.h BinImage.cpp BinImageData.cpp)
  file(COPY_FILE "${OUT_DIR}/${out}.new" "${OUT_DIR}/${out}" ONLY_IF_DIFFERENT)
  file(REMOVE "${OUT_DIR}/${out}.new")
endforeach()
