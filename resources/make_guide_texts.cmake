# Writes the two guide texts (UTF-8, LF line ends; the program widens them to CR LF):
#   OUT_CREDITS  resource 320: what the built-in plate is and its credit, as the plate
#                build recorded them, and the notice of the JSON library;
#   OUT_LICENCE  resource 321: the JSON library's MIT licence, taken from the
#                installed package's own copyright file.
# Run as: cmake -DJSON_HEADER=... -DJSON_COPYRIGHT=... -DPLATE_IDENTITY=...
#               -DOUT_CREDITS=... -DOUT_LICENCE=... -P make_guide_texts.cmake
foreach(var JSON_HEADER JSON_COPYRIGHT PLATE_IDENTITY OUT_CREDITS OUT_LICENCE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_guide_texts: ${var} is not set")
  endif()
endforeach()

# A string constant of the generated plate header: `... kName[] = "value";`.
function(plate_field name out)
  file(STRINGS "${PLATE_IDENTITY}" lines REGEX "${name}")
  foreach(line IN LISTS lines)
    if(line MATCHES "${name}[^=]*= *\"(([^\"\\\\]|\\\\.)*)\"")
      set(value "${CMAKE_MATCH_1}")
      string(REPLACE "\\\"" "\"" value "${value}")
      string(REPLACE "\\\\" "\\" value "${value}")
      set(${out} "${value}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "make_guide_texts: ${name} not found in ${PLATE_IDENTITY}")
endfunction()

plate_field(kPlateTitle plate_title)
plate_field(kPlateDescription plate_description)
plate_field(kPlateCredit plate_credit)
# A credit may end in the image's source-page address: "NASA, ...; https://...".
set(plate_source "")
if(plate_credit MATCHES "^(.*[^ ]) *; *(https?://[^ ]+)$")
  set(plate_credit "${CMAKE_MATCH_1}")
  set(plate_source "Source page: ${CMAKE_MATCH_2}\n")
endif()
file(STRINGS "${PLATE_IDENTITY}" synthetic_line REGEX "kPlateIsSynthetic *= *(true|false)")
if(NOT synthetic_line MATCHES "= *(true|false)")
  message(FATAL_ERROR "make_guide_texts: kPlateIsSynthetic not found in ${PLATE_IDENTITY}")
endif()
if(CMAKE_MATCH_1 STREQUAL "true")
  # Said plainly, so that nobody mistakes the generated field for an observation.
  set(plate_note "There is no source page for it: the build of this program generates it.\n")
else()
  set(plate_note "")
endif()

# The JSON library's notice, from the banner of its installed header.
file(STRINGS "${JSON_HEADER}" banner LIMIT_COUNT 12)
set(json_name "")
set(json_version "")
set(json_url "")
set(json_copyright "")
set(json_licence "")
foreach(line IN LISTS banner)
  if(line MATCHES "(JSON for Modern C\\+\\+) *$")
    set(json_name "${CMAKE_MATCH_1}")
  elseif(line MATCHES "version ([0-9.]+) *$")
    set(json_version "${CMAKE_MATCH_1}")
  elseif(line MATCHES "(https://github.com/[^ ]+) *$")
    set(json_url "${CMAKE_MATCH_1}")
  elseif(line MATCHES "SPDX-FileCopyrightText: (.*[^ ]) *$")
    set(json_copyright "${CMAKE_MATCH_1}")
  elseif(line MATCHES "SPDX-License-Identifier: ([A-Za-z0-9.-]+)")
    set(json_licence "${CMAKE_MATCH_1}")
  endif()
endforeach()
foreach(var json_name json_version json_url json_copyright json_licence)
  if(NOT ${var})
    message(FATAL_ERROR "make_guide_texts: the banner of ${JSON_HEADER} has no ${var}")
  endif()
endforeach()

# The licence paragraph and the main copyright line of the Debian copyright file.
file(READ "${JSON_COPYRIGHT}" copyright)
string(REPLACE "\r\n" "\n" copyright "${copyright}")
if(NOT copyright MATCHES "Files: \\*\nCopyright: ([^\n]+)\nLicense: Expat\n")
  message(FATAL_ERROR "make_guide_texts: no main copyright line in ${JSON_COPYRIGHT}")
endif()
set(main_copyright "${CMAKE_MATCH_1}")
string(FIND "${copyright}" "\n\nLicense: Expat\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "make_guide_texts: no Expat licence paragraph in ${JSON_COPYRIGHT}")
endif()
math(EXPR start "${start} + 17")  # past "\n\nLicense: Expat\n"
string(SUBSTRING "${copyright}" ${start} -1 licence)
string(FIND "${licence}" "\n\n" stop)
if(NOT stop EQUAL -1)
  string(SUBSTRING "${licence}" 0 ${stop} licence)
endif()
# Debian continuation lines start with one space; a lone " ." is an empty line.
string(REGEX REPLACE "(^|\n) " "\\1" licence "${licence}")
string(REGEX REPLACE "(^|\n)\\.(\n|$)" "\\1\n" licence "${licence}")
# Re-flow each paragraph onto one line so the guide box wraps it to its width.
string(ASCII 30 paragraph_mark)
string(REPLACE "\n\n" "${paragraph_mark}" licence "${licence}")
string(REPLACE "\n" " " licence "${licence}")
string(REPLACE "${paragraph_mark}" "\n\n" licence "${licence}")
string(STRIP "${licence}" licence)
if(NOT licence MATCHES "^Permission is hereby granted" OR NOT licence MATCHES "SOFTWARE\\.$")
  message(FATAL_ERROR "make_guide_texts: unexpected licence text in ${JSON_COPYRIGHT}")
endif()

# Neither text ends in a line break: the guide puts its own between the parts.
set(licence_text "MIT License\n\nCopyright (c) ${main_copyright}\n\n${licence}")

set(credits_text "CREDITS AND NOTICES

Built-in plate: ${plate_title}
${plate_description}
Credit: ${plate_credit}
${plate_source}${plate_note}
${json_name}, version ${json_version}
${json_url}
${json_licence} License, Copyright (c) ${json_copyright}
The library's licence text follows.")

foreach(pair "OUT_CREDITS;credits_text" "OUT_LICENCE;licence_text")
  list(GET pair 0 path_var)
  list(GET pair 1 text_var)
  # Rewritten only when the content changes, so the resources do not rebuild needlessly.
  file(WRITE "${${path_var}}.tmp" "${${text_var}}")
  file(COPY_FILE "${${path_var}}.tmp" "${${path_var}}" ONLY_IF_DIFFERENT)
  file(REMOVE "${${path_var}}.tmp")
endforeach()
