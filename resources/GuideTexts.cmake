# Guide texts, raw-data resources 320 (credits and notices) and 321 (the JSON
# library's licence), UTF-8. They are made at build time from what is really built
# in: the plate's own description and credit as the plate build recorded them in
# plate_identity.h, the JSON library's notice from its installed header, and its
# licence from the installed package's copyright file.
set(TESSARY_GUIDE_CREDITS ${TESSARY_GENERATED_RESOURCES}/guide-credits.txt)
set(TESSARY_GUIDE_LICENCE ${TESSARY_GENERATED_RESOURCES}/guide-licence.txt)
if(NOT DEFINED TESSARY_PLATE_IDENTITY_HEADER)
  set(TESSARY_PLATE_IDENTITY_HEADER ${PROJECT_BINARY_DIR}/generated/imaging/plate_identity.h)
endif()
set(_json_header /usr/include/nlohmann/json.hpp)
set(_json_copyright /usr/share/doc/nlohmann-json3-dev/copyright)
set(_guide_depends ${CMAKE_CURRENT_LIST_DIR}/make_guide_texts.cmake ${_json_header} ${_json_copyright}
    ${TESSARY_PLATE_IDENTITY_HEADER})
if(TARGET tessary_plate_identity)
  list(APPEND _guide_depends tessary_plate_identity)
endif()
add_custom_command(
  OUTPUT ${TESSARY_GUIDE_CREDITS} ${TESSARY_GUIDE_LICENCE}
  COMMAND ${CMAKE_COMMAND} -DJSON_HEADER=${_json_header} -DJSON_COPYRIGHT=${_json_copyright}
          -DPLATE_IDENTITY=${TESSARY_PLATE_IDENTITY_HEADER}
          -DOUT_CREDITS=${TESSARY_GUIDE_CREDITS} -DOUT_LICENCE=${TESSARY_GUIDE_LICENCE}
          -P ${CMAKE_CURRENT_LIST_DIR}/make_guide_texts.cmake
  DEPENDS ${_guide_depends}
  COMMENT "Writing the guide's credits and licence texts"
  VERBATIM)
list(APPEND TESSARY_RESOURCE_FILES ${TESSARY_GUIDE_CREDITS} ${TESSARY_GUIDE_LICENCE})
