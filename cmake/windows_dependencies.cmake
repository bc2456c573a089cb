# SPDX-License-Identifier: GPL-2.0-or-later
# The libraries of the Windows build, from the Debian packages' headers:
# CLI11 and nlohmann-json are header-only, fmt's compiled part is built once
# here (cmake/windows/fmt_library.cpp), GoogleTest is built from the Debian
# source package. Only the three header folders are put on the include path,
# never /usr/include itself, whose C library headers belong to Linux.
set(FWTOOL_HEADER_ROOT /usr/include CACHE PATH "Where the header-only libraries' folders are")
set(staged ${CMAKE_BINARY_DIR}/header-only)
foreach(folder fmt CLI nlohmann)
  if(NOT EXISTS ${FWTOOL_HEADER_ROOT}/${folder})
    message(FATAL_ERROR "${FWTOOL_HEADER_ROOT}/${folder} is missing: run scripts/install-deps")
  endif()
  file(MAKE_DIRECTORY ${staged})
  if(NOT EXISTS ${staged}/${folder})
    file(CREATE_LINK ${FWTOOL_HEADER_ROOT}/${folder} ${staged}/${folder} SYMBOLIC)
  endif()
endforeach()

add_library(fwtool_header_only INTERFACE)
target_include_directories(fwtool_header_only SYSTEM INTERFACE ${staged})

add_library(fwtool_fmt STATIC ${CMAKE_CURRENT_LIST_DIR}/windows/fmt_library.cpp)
target_link_libraries(fwtool_fmt PUBLIC fwtool_header_only)
add_library(fmt::fmt ALIAS fwtool_fmt)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_link_libraries(CLI11::CLI11 INTERFACE fwtool_header_only)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_link_libraries(nlohmann_json::nlohmann_json INTERFACE fwtool_header_only)

# Resource scripts (icons, manifests, version records) go through windres.
enable_language(RC)

# Windows headers: no min/max macros; the API of Windows 7 and later.
add_compile_definitions(NOMINMAX _WIN32_WINNT=0x0601)

if(FWTOOL_BUILD_TESTS)
  set(FWTOOL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(NOT EXISTS ${FWTOOL_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "${FWTOOL_GOOGLETEST_SOURCE} is missing: run scripts/install-deps")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  # Defines GTest::gtest, GTest::gtest_main and GTest::gmock.
  add_subdirectory(${FWTOOL_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  enable_testing()
endif()
