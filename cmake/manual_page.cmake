# Makes the manual page from its template, with the windows the game plays in.
# cmake -DLAYOUT_SIZE=<tool> [-DEMULATOR=<qemu>] -DTEMPLATE=<bootcamp.6.in> -DOUTPUT=<bootcamp.6> -DVERSION=<x.y.z>
#   -P manual_page.cmake      (EMULATOR: what runs a cross-built tool here)
execute_process(COMMAND ${EMULATOR} "${LAYOUT_SIZE}" OUTPUT_VARIABLE size RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
if(failed OR NOT size MATCHES "^([0-9]+) ([0-9]+) ([0-9]+) ([0-9]+) ([0-9]+) ([0-9]+)$")
  message(FATAL_ERROR "${LAYOUT_SIZE} gave no sizes: '${size}'")
endif()
# the full layout; the smallest window in which no line wraps; the narrowest
set(BOOTCAMP_COLUMNS ${CMAKE_MATCH_1})
set(BOOTCAMP_ROWS ${CMAKE_MATCH_2})
set(BOOTCAMP_PLAIN_COLUMNS ${CMAKE_MATCH_3})
set(BOOTCAMP_PLAIN_ROWS ${CMAKE_MATCH_4})
set(BOOTCAMP_NARROW_COLUMNS ${CMAKE_MATCH_5})
set(BOOTCAMP_NARROW_ROWS ${CMAKE_MATCH_6})
set(BOOTCAMP_VERSION ${VERSION})
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
