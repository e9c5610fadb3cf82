# Writes the text files of the release zip, with CR LF line ends for Windows users:
#   README.txt                the user guide, from README.txt.in with the version;
#   LICENSE.txt               the project's LICENSE;
#   THIRD-PARTY-NOTICES.txt   the guide's credits and notices (resource 320) and the
#                             JSON library's licence (resource 321), as built into
#                             the program, wrapped to 78 columns.
# Run as: cmake -DVERSION=... -DLICENSE=... -DREADME_TEMPLATE=... -DCREDITS=...
#               -DLICENCE=... -DOUT_DIR=... -P make_release_texts.cmake
foreach(var VERSION LICENSE README_TEMPLATE CREDITS LICENCE OUT_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_release_texts: ${var} is not set")
  endif()
endforeach()

# Wraps each line of TEXT longer than 78 characters at spaces.
function(wrap text out)
  string(REPLACE ";" "\x1f" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(result "")
  foreach(line IN LISTS lines)
    string(LENGTH "${line}" length)
    if(length LESS_EQUAL 78)
      string(APPEND result "${line}\n")
      continue()
    endif()
    string(REPLACE " " ";" words "${line}")
    set(current "")
    foreach(word IN LISTS words)
      if(current STREQUAL "")
        set(current "${word}")
      else()
        string(LENGTH "${current} ${word}" candidate)
        if(candidate GREATER 78)
          string(APPEND result "${current}\n")
          set(current "${word}")
        else()
          string(APPEND current " ${word}")
        endif()
      endif()
    endforeach()
    string(APPEND result "${current}\n")
  endforeach()
  string(REPLACE "\x1f" ";" result "${result}")
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# Writes TEXT (LF line ends) with CR LF line ends, only when the content changes.
function(write_crlf path text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${path}.tmp" "${text}")
  file(COPY_FILE "${path}.tmp" "${path}" ONLY_IF_DIFFERENT)
  file(REMOVE "${path}.tmp")
endfunction()

file(MAKE_DIRECTORY "${OUT_DIR}")

file(READ "${LICENSE}" license_text)
if(NOT license_text MATCHES "\nCopyright \\(c\\) ([^\n]+)\n")
  message(FATAL_ERROR "make_release_texts: no copyright line in ${LICENSE}")
endif()
set(TESSARY_COPYRIGHT_HOLDER "${CMAKE_MATCH_1}")
write_crlf("${OUT_DIR}/LICENSE.txt" "${license_text}")

set(TESSARY_VERSION "${VERSION}")
file(READ "${README_TEMPLATE}" readme_template)
string(CONFIGURE "${readme_template}" readme_text @ONLY)
write_crlf("${OUT_DIR}/README.txt" "${readme_text}")

file(READ "${CREDITS}" credits_text)
file(READ "${LICENCE}" licence_text)
wrap("Tessary ${VERSION}: third-party notices\n\n${credits_text}\n\n${licence_text}" notices_text)
write_crlf("${OUT_DIR}/THIRD-PARTY-NOTICES.txt" "${notices_text}")
