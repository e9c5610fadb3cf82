# Writes the text files of the release zip, with CR LF line ends for Windows users:
#   README.txt                the user guide, from README.txt.in with the version;
#   LICENSE.txt               the project's LICENSE;
#   THIRD-PARTY-NOTICES.txt   the guide's credits and notices (resource 320) and the
#                             JSON library's licence (resource 321), as built into
#                             the program, then the notices of the libraries the
#                             compiler links into the program (the GCC runtime
#                             libraries, the mingw-w64 runtime, winpthreads and
#                             zlib),
#                             taken from the installed Debian packages' copyright
#                             files; wrapped to 78 columns.
# Run as: cmake -DVERSION=... -DLICENSE=... -DREADME_TEMPLATE=... -DCREDITS=...
#               -DLICENCE=... -DGCC_VERSION=... -DGCC_COPYRIGHT=... -DMINGW_COPYRIGHT=...
#               -DZLIB_COPYRIGHT=...
#               -DOUT_DIR=... -P make_release_texts.cmake
foreach(var VERSION LICENSE README_TEMPLATE CREDITS LICENCE GCC_VERSION GCC_COPYRIGHT MINGW_COPYRIGHT ZLIB_COPYRIGHT OUT_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_release_texts: ${var} is not set")
  endif()
endforeach()

# Wraps each line of TEXT longer than 78 characters at spaces.
function(wrap text out)
  string(ASCII 31 unit_separator)  # stands for ";", which separates list items
  string(REPLACE ";" "${unit_separator}" text "${text}")
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
  string(REPLACE "${unit_separator}" ";" result "${result}")
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

# --- notices of the libraries linked into the program ---------------------------

# Debian copyright files indent a field's continuation lines by one space and mark
# an empty line with " .".
# (Plain replacements: a "^" in a REGEX REPLACE matches again after every match.)
function(undent text out)
  string(REPLACE "\n " "\n" text "\n${text}")
  string(REPLACE "\n.\n" "\n\n" text "${text}")
  string(REPLACE "\n.\n" "\n\n" text "${text}")
  string(SUBSTRING "${text}" 1 -1 text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The text of licence NAME in a machine-readable Debian copyright file: the indented
# lines after the "License: NAME" line that has them (in a Files paragraph or in a
# paragraph of its own).
function(dep5_licence text name out)
  string(FIND "${text}" "\nLicense: ${name}\n " at)
  if(at EQUAL -1)
    message(FATAL_ERROR "make_release_texts: no text of licence ${name}")
  endif()
  string(LENGTH "\nLicense: ${name}\n" skip)
  math(EXPR at "${at} + ${skip}")
  string(SUBSTRING "${text}" ${at} -1 rest)
  string(REGEX MATCH "^( [^\n]*\n)+" body "${rest}")
  undent("${body}" body)
  string(STRIP "${body}" body)
  set(${out} "${body}" PARENT_SCOPE)
endfunction()

# The Copyright field (one holder a line) and the licence name of the paragraph
# whose Files field begins with FILES.
function(dep5_paragraph text files out_copyright out_licence)
  string(FIND "${text}" "\nFiles: ${files}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "make_release_texts: no paragraph for ${files}")
  endif()
  math(EXPR at "${at} + 1")
  string(SUBSTRING "${text}" ${at} -1 rest)
  string(FIND "${rest}" "\n\n" end)
  string(SUBSTRING "${rest}" 0 ${end} paragraph)
  if(NOT paragraph MATCHES "\nCopyright: ([^\n]*(\n [^\n]*)*)")
    message(FATAL_ERROR "make_release_texts: no copyright for ${files}")
  endif()
  string(REGEX REPLACE "\n +" "\n" holders "${CMAKE_MATCH_1}")
  string(REPLACE "\n" "\nCopyright (c) " holders "Copyright (c) ${holders}")
  if(NOT paragraph MATCHES "\nLicense: ([^\n]+)")
    message(FATAL_ERROR "make_release_texts: no licence for ${files}")
  endif()
  set(${out_copyright} "${holders}" PARENT_SCOPE)
  set(${out_licence} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# One notice: the holders of a paragraph and the text of its licence.
function(dep5_notice text files out)
  dep5_paragraph("${text}" "${files}" holders name)
  dep5_licence("${text}" "${name}" body)
  set(${out} "${holders}\n\n${body}" PARENT_SCOPE)
endfunction()

file(READ "${MINGW_COPYRIGHT}" mingw)
dep5_notice("${mingw}" "*\n" mingw_main)
dep5_notice("${mingw}" "mingw-w64-crt/gdtoa/*" mingw_gdtoa)
dep5_notice("${mingw}" "mingw-w64-crt/gdtoa/qnan.c" mingw_gay)
dep5_notice("${mingw}" "mingw-w64-libraries/winpthreads/*" winpthreads_main)
dep5_notice("${mingw}" "mingw-w64-libraries/winpthreads/include/pthread.h" winpthreads_header)

file(READ "${ZLIB_COPYRIGHT}" zlib)
dep5_notice("${zlib}" "*\n" zlib_main)

# The GCC Runtime Library Exception, as the GCC package's copyright file quotes it.
file(READ "${GCC_COPYRIGHT}" gcc)
string(FIND "${gcc}" "GCC RUNTIME LIBRARY EXCEPTION\n" start)
string(FIND "${gcc}" "requirements of the license of GCC.\n" stop)
if(start EQUAL -1 OR stop EQUAL -1 OR stop LESS start)
  message(FATAL_ERROR "make_release_texts: no GCC Runtime Library Exception in ${GCC_COPYRIGHT}")
endif()
math(EXPR length "${stop} + 35 - ${start}")  # through "...of GCC."
string(SUBSTRING "${gcc}" ${start} ${length} gcc_exception)

string(REGEX MATCH "^[0-9]+" gcc_major "${GCC_VERSION}")

# The headings are what the check against the program's link map looks for.
set(linked_notices "LIBRARIES LINKED INTO TESSARY.EXE

The compiler links the following libraries into Tessary.exe.

GCC RUNTIME LIBRARIES (libgcc, libstdc++)

Parts of the runtime libraries of GCC ${gcc_major}: libgcc (with its start-up and \
exception-handling parts) and libstdc++. They are licensed under the GNU General \
Public License, version 3 or later, with version 3.1 of the GCC Runtime Library \
Exception, which permits distributing a program compiled with GCC, and the parts \
of these libraries combined with it, under terms of the program's own choosing. \
The exception reads:

${gcc_exception}

MINGW-W64 RUNTIME

The C runtime start-up code and parts of the runtime libraries of the mingw-w64 \
project (libmingw32, libmingwex, libuuid), and the import libraries of the \
Windows system DLLs the program uses.

${mingw_main}

Its number conversions (gdtoa) carry these notices:

${mingw_gdtoa}

${mingw_gay}

WINPTHREADS

The POSIX threads library of the mingw-w64 project, which the C++ threads of \
the program use.

${winpthreads_main}

Its header pthread.h:

${winpthreads_header}

ZLIB

The compression library zlib, which inflates the built-in plate's image data.

${zlib_main}")

file(READ "${CREDITS}" credits_text)
file(READ "${LICENCE}" licence_text)
wrap("Tessary ${VERSION}: third-party notices\n\n${credits_text}\n\n${licence_text}\n\n${linked_notices}\n" notices_text)
write_crlf("${OUT_DIR}/THIRD-PARTY-NOTICES.txt" "${notices_text}")
