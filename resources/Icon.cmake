# Icon resource 101: drawn by the host tool icon_generator at 16 to 256 pixels,
# each size PNG-compressed, packed into one .ico file.
set(TESSARY_ICON_FILE ${TESSARY_GENERATED_RESOURCES}/tessary.ico)
add_custom_command(
  OUTPUT ${TESSARY_ICON_FILE}
  COMMAND ${TESSARY_HOST_TOOLS}/icon_generator/icon_generator ${TESSARY_ICON_FILE}
  DEPENDS host_tools ${TESSARY_HOST_TOOLS}/icon_generator/icon_generator
  COMMENT "Drawing the program icon"
  VERBATIM)
list(APPEND TESSARY_RESOURCE_FILES ${TESSARY_ICON_FILE})
