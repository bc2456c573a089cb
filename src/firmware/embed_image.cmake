# SPDX-License-Identifier: GPL-2.0-or-later
# Writes a C++ source that holds the bytes of a firmware image as the array
# VQB719FW and hands them out through fwtool::EmbeddedImage().
#   cmake -DINPUT=<image file> -DOUTPUT=<source file> -P embed_image.cmake
if(NOT DEFINED INPUT OR NOT DEFINED OUTPUT)
  message(FATAL_ERROR "embed_image.cmake needs -DINPUT=... and -DOUTPUT=...")
endif()
if(NOT EXISTS "${INPUT}")
  message(FATAL_ERROR "embedded firmware image not found: ${INPUT}")
endif()

file(SIZE "${INPUT}" size)
file(READ "${INPUT}" hex HEX)
# 16 bytes per line, then every byte as 0xNN.
string(REGEX REPLACE "([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])"
       "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")

get_filename_component(name "${INPUT}" NAME)
if(size EQUAL 0)
  set(body "std::span<const uint8_t> EmbeddedImage() { return {}; }\n")
else()
  set(body "namespace {\nalignas(16) constexpr uint8_t VQB719FW[${size}] = {\n${bytes}\n};\n}  // namespace\n\nstd::span<const uint8_t> EmbeddedImage() { return VQB719FW; }\n")
endif()

set(content "// Generated from ${name} (${size} bytes) by embed_image.cmake. Do not edit.\n#include <cstdint>\n#include <span>\n\nnamespace fwtool {\n\n${body}\n}  // namespace fwtool\n")
# Rewrite only on change so an unchanged image does not rebuild its users.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" previous)
  if(previous STREQUAL content)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${content}")
