# Holds the README, the Windows and Linux players' texts and the manual page to the windows the game
# plays in:
# the smallest in which no line wraps, and the full layout's.
# cmake -DLAYOUT_SIZE=<tool> -DREADME=<README.md> -DWINDOWS_TEXT=<windows_readme.txt.in>
#   -DLINUX_TEXT=<linux_readme.txt.in> -DMANUAL=<bootcamp.6> -P check_docs.cmake
execute_process(COMMAND "${LAYOUT_SIZE}" OUTPUT_VARIABLE size OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT size MATCHES "^([0-9]+) ([0-9]+) ([0-9]+) ([0-9]+) ([0-9]+) ([0-9]+)$")
  message(FATAL_ERROR "${LAYOUT_SIZE} gave no sizes: '${size}'")
endif()
set(full "${CMAKE_MATCH_1} columns and ${CMAKE_MATCH_2} rows")
set(plain "at least ${CMAKE_MATCH_3} columns and ${CMAKE_MATCH_4} rows")
set(narrow "${CMAKE_MATCH_5} columns")
foreach(text IN ITEMS "${README}" "${WINDOWS_TEXT}" "${LINUX_TEXT}" "${MANUAL}")
  file(READ "${text}" said)
  # the manual page's lines may break anywhere: read it as one line
  string(REGEX REPLACE "[ \n]+" " " said "${said}")
  foreach(phrase IN ITEMS "${plain}" "${full}" "${narrow}")
    string(FIND "${said}" "${phrase}" found)
    if(found EQUAL -1)
      message(FATAL_ERROR "${text} does not say '${phrase}'")
    endif()
  endforeach()
endforeach()
message(STATUS "README, Windows and Linux texts and manual page say ${plain}, down to ${narrow}, and ${full}")
