# SPDX-License-Identifier: GPL-2.0-or-later
# The Windows programs as a user gets them: the command line's resources
# (icon, manifest, version), and a zip with fwtool.exe, fwtool-gui.exe, the
# README, the pages it links to in docs/ and the LICENSE (`make windows`, or
# the target fwtool_windows_zip).
if(TARGET fwtool)
  set(FWTOOL_ICON_FILE ${PROJECT_SOURCE_DIR}/resources/fwtool.ico)
  set(FWTOOL_CLI_MANIFEST ${PROJECT_SOURCE_DIR}/cmake/windows/fwtool.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/fwtool.rc ${CMAKE_BINARY_DIR}/fwtool.rc @ONLY)
  target_sources(fwtool PRIVATE ${CMAKE_BINARY_DIR}/fwtool.rc)
  set_source_files_properties(${CMAKE_BINARY_DIR}/fwtool.rc PROPERTIES
    OBJECT_DEPENDS "${FWTOOL_ICON_FILE};${FWTOOL_CLI_MANIFEST}")
endif()

if(TARGET fwtool AND TARGET fwtool-gui)
  set(package fwtool-${PROJECT_VERSION}-windows-x64)
  set(staging ${CMAKE_BINARY_DIR}/package/${package})
  set(zip ${CMAKE_BINARY_DIR}/${package}.zip)
  file(GLOB docs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md ${PROJECT_SOURCE_DIR}/docs/screenshots/*)
  add_custom_command(
    OUTPUT ${zip}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${staging} ${zip}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${staging}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:fwtool> $<TARGET_FILE:fwtool-gui> ${staging}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${staging}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/docs ${staging}/docs
    COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/package
            ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip ${package}
    DEPENDS fwtool fwtool-gui ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${docs}
    COMMENT "Packing ${package}.zip"
    VERBATIM)
  add_custom_target(fwtool_windows_zip ALL DEPENDS ${zip})
endif()
