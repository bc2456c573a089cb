# SPDX-License-Identifier: GPL-2.0-or-later
# cmake -DFILE=path -DSIZE=bytes -P file_size_is.cmake: fails unless FILE
# exists with exactly SIZE bytes.
if(NOT EXISTS "${FILE}")
  message(FATAL_ERROR "${FILE} is missing")
endif()
file(SIZE "${FILE}" size)
if(NOT size EQUAL SIZE)
  message(FATAL_ERROR "${FILE} has ${size} bytes, not ${SIZE}")
endif()
