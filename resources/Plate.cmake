# The built-in plate, raw-data resource 301, and the record of what it is.
#
# By default the build makes the plate itself: tools/plate_generator writes a
# synthetic deep-sky field, 14,575 x 8,441 pixels, 8-bit RGB, non-interlaced, always
# the same bytes. It runs again only when the generator changes. A user who has
# the official image can embed it instead (docs/plate.md):
#   cmake -DTESSARY_PLATE_PNG=/path/to/image.png ...
#
# The plate's size and SHA-256, measured on the very file that is embedded, and its
# title, description and credit go into plate_identity.h (generated/imaging/ and
# generated/), which the plate load, the crop records, the guide texts and the
# self-test read. Targets whose sources include it depend on tessary_plate_identity.
#
# Sets: TESSARY_PLATE_FILE (the PNG the resource script embeds),
#       TESSARY_PLATE_IDENTITY_HEADER; appends both to TESSARY_RESOURCE_FILES.
set(TESSARY_PLATE_PNG "" CACHE FILEPATH
    "PNG file to embed as the built-in plate instead of the generated synthetic sky field (empty: generate)")

set(TESSARY_PLATE_FILE ${TESSARY_GENERATED_RESOURCES}/plate.png)
set(_plate_generator ${TESSARY_HOST_TOOLS}/plate_generator/plate_generator)

if(TESSARY_PLATE_PNG STREQUAL "")
  set(_plate_origin generated)
  add_custom_command(
    OUTPUT ${TESSARY_PLATE_FILE}
    COMMAND ${_plate_generator} --out ${TESSARY_PLATE_FILE}
    DEPENDS host_tools ${_plate_generator}
    COMMENT "Generating the built-in plate, a synthetic sky field of 14,575 x 8,441 pixels (about half a minute)"
    VERBATIM)
else()
  set(_plate_origin provided)
  get_filename_component(_plate_source "${TESSARY_PLATE_PNG}" ABSOLUTE)
  if(NOT EXISTS "${_plate_source}" OR IS_DIRECTORY "${_plate_source}")
    message(FATAL_ERROR "TESSARY_PLATE_PNG names no file: ${TESSARY_PLATE_PNG}")
  endif()
  add_custom_command(
    OUTPUT ${TESSARY_PLATE_FILE}
    COMMAND ${CMAKE_COMMAND} -E copy ${_plate_source} ${TESSARY_PLATE_FILE}
    DEPENDS ${_plate_source}
    COMMENT "Copying the chosen built-in plate"
    VERBATIM)
endif()

set(TESSARY_PLATE_IDENTITY_HEADER ${PROJECT_BINARY_DIR}/generated/imaging/plate_identity.h)
set(_plate_identity_root ${PROJECT_BINARY_DIR}/generated/plate_identity.h)
add_custom_command(
  OUTPUT ${TESSARY_PLATE_IDENTITY_HEADER} ${_plate_identity_root}
  COMMAND ${CMAKE_COMMAND} -DPLATE=${TESSARY_PLATE_FILE} -DORIGIN=${_plate_origin}
          -DOUT=${TESSARY_PLATE_IDENTITY_HEADER} -DOUT_ROOT=${_plate_identity_root}
          -P ${CMAKE_CURRENT_LIST_DIR}/make_plate_identity.cmake
  DEPENDS ${TESSARY_PLATE_FILE} ${CMAKE_CURRENT_LIST_DIR}/make_plate_identity.cmake
  COMMENT "Recording the built-in plate's size, SHA-256, title and credit"
  VERBATIM)
add_custom_target(tessary_plate_identity DEPENDS ${TESSARY_PLATE_IDENTITY_HEADER} ${_plate_identity_root})

list(APPEND TESSARY_RESOURCE_FILES ${TESSARY_PLATE_FILE} ${TESSARY_PLATE_IDENTITY_HEADER} ${_plate_identity_root})

# Everything compiled against the header waits for it. Run once the whole project
# is configured, so that targets defined later (the tests) are included.
function(_tessary_plate_identity_users)
  foreach(target IN ITEMS tessary_imaging_win tessary_exports_win tessary_selftest_win tessary_app_win
                          test_imaging test_exports test_selftest test_app)
    if(TARGET ${target})
      add_dependencies(${target} tessary_plate_identity)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL _tessary_plate_identity_users)
