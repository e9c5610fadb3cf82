# nlohmann/json comes from Debian's nlohmann-json3-dev. In the cross build the host
# package cannot be found with find_package (and adding -isystem /usr/include would
# break mingw's own C headers), so a build-tree folder holding only a link to the
# installed headers serves as the include directory.
add_library(tessary_json INTERFACE)
if(TESSARY_WINDOWS)
  set(_json_dir ${CMAKE_BINARY_DIR}/json-include)
  file(MAKE_DIRECTORY ${_json_dir})
  if(NOT EXISTS ${_json_dir}/nlohmann)
    file(CREATE_LINK /usr/include/nlohmann ${_json_dir}/nlohmann SYMBOLIC)
  endif()
  target_include_directories(tessary_json SYSTEM INTERFACE ${_json_dir})
else()
  find_package(nlohmann_json 3.11 REQUIRED)
  target_link_libraries(tessary_json INTERFACE nlohmann_json::nlohmann_json)
endif()

# GoogleTest is built from Debian's sources (package googletest).
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# zlib inflates the built-in plate's independently compressed segments on all cores
# (src/imaging/segmented_png_decoder.cpp): Debian's zlib1g-dev natively,
# libz-mingw-w64-dev in the cross build, linked statically there so that the program
# still imports only system DLLs.
if(TESSARY_WINDOWS)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)
