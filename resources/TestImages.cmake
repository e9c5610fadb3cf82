# The three small self-test images, raw-data resources 331 (baseline JPEG), 332
# (24-bit BMP) and 333 (uncompressed little-endian RGB TIFF), all 16 x 12 pixels,
# written by the host tool test_image_generator into the generated resources:
#   selftest-331.jpg, selftest-332.bmp, selftest-333.tif
set(TESSARY_TEST_IMAGE_JPEG ${TESSARY_GENERATED_RESOURCES}/selftest-331.jpg)
set(TESSARY_TEST_IMAGE_BMP ${TESSARY_GENERATED_RESOURCES}/selftest-332.bmp)
set(TESSARY_TEST_IMAGE_TIFF ${TESSARY_GENERATED_RESOURCES}/selftest-333.tif)
set(_test_image_generator ${TESSARY_HOST_TOOLS}/test_images/test_image_generator)
add_custom_command(
  OUTPUT ${TESSARY_TEST_IMAGE_JPEG} ${TESSARY_TEST_IMAGE_BMP} ${TESSARY_TEST_IMAGE_TIFF}
  COMMAND ${_test_image_generator} ${TESSARY_TEST_IMAGE_JPEG} ${TESSARY_TEST_IMAGE_BMP}
          ${TESSARY_TEST_IMAGE_TIFF}
  DEPENDS host_tools ${_test_image_generator}
          ${PROJECT_SOURCE_DIR}/tools/test_images/test_image_bytes.h
          ${PROJECT_SOURCE_DIR}/tools/test_images/test_image_generator.cpp
  COMMENT "Writing the self-test images"
  VERBATIM)
list(APPEND TESSARY_RESOURCE_FILES
  ${TESSARY_TEST_IMAGE_JPEG} ${TESSARY_TEST_IMAGE_BMP} ${TESSARY_TEST_IMAGE_TIFF})
