# Writes the Debian changelog of the package from NEWS.md, gzipped as
# Debian ships it (-9n: no name, no time stamp, so the same input gives the
# same bytes). Run as:
#   cmake -DNEWS=NEWS.md -DOUT=changelog.gz -DMAINTAINER="Name <mail>"
#         -DGZIP=/bin/gzip -P debian-changelog.cmake
# Each "## VERSION (YYYY-MM-DD)" heading becomes an entry; its "- " items
# become "  * " lines and their continuation lines are indented to match.
foreach(var NEWS OUT MAINTAINER GZIP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "debian-changelog: ${var} is not set")
  endif()
endforeach()

# Semicolons and brackets mean something to CMake's lists: they are hidden
# while the text is split into lines, and restored in the result.
file(READ ${NEWS} news)
string(REPLACE "[" "<LB>" news "${news}")
string(REPLACE "]" "<RB>" news "${news}")
string(REPLACE ";" "<SC>" news "${news}")
string(REPLACE "\n" ";" lines "${news}")
set(text "")
set(day "")
set(entry_open FALSE)
set(trailer "")

macro(close_entry)
  if(entry_open)
    string(APPEND text "\n${trailer}\n")
    set(entry_open FALSE)
  endif()
endmacro()

foreach(line IN LISTS lines)
  if(line MATCHES "^## ([0-9][0-9.]*) \\(([0-9]+-[0-9]+-[0-9]+)\\)$")
    set(version ${CMAKE_MATCH_1})
    # Noon UTC: the day stays the day written, whatever the zone. Versions
    # of one day come a minute apart, the newest first, so that every entry
    # is later than the one below it.
    if(CMAKE_MATCH_2 STREQUAL day)
      math(EXPR same_day "${same_day} + 1")
    else()
      set(day ${CMAKE_MATCH_2})
      set(same_day 0)
    endif()
    execute_process(COMMAND date -u -R -d "${day} 12:00 UTC ${same_day} minutes ago"
      OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "debian-changelog: bad date in '${line}'")
    endif()
    close_entry()
    if(NOT text STREQUAL "")
      string(APPEND text "\n")
    endif()
    string(APPEND text "browser-watchdog (${version}) unstable; urgency=medium\n\n")
    set(trailer " -- ${MAINTAINER}  ${date}")
    set(entry_open TRUE)
  elseif(line MATCHES "^## ")
    message(FATAL_ERROR "debian-changelog: a heading must be '## VERSION (YYYY-MM-DD)': '${line}'")
  elseif(entry_open AND line MATCHES "^- (.*)$")
    string(APPEND text "  * ${CMAKE_MATCH_1}\n")
  elseif(entry_open AND line MATCHES "^  +(.*)$")
    string(APPEND text "    ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
close_entry()
if(text STREQUAL "")
  message(FATAL_ERROR "debian-changelog: no version in ${NEWS}")
endif()
string(REPLACE "<SC>" ";" text "${text}")
string(REPLACE "<LB>" "[" text "${text}")
string(REPLACE "<RB>" "]" text "${text}")

string(REGEX REPLACE "\\.gz$" "" plain ${OUT})
file(WRITE ${plain} "${text}")
execute_process(COMMAND ${GZIP} -9nf ${plain} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "debian-changelog: gzip failed")
endif()
