# Makes the manual page from its template, with the terminal size the game checks for.
# cmake -DLAYOUT_SIZE=<tool> [-DEMULATOR=<qemu>] -DTEMPLATE=<bootcamp.6.in> -DOUTPUT=<bootcamp.6> -DVERSION=<x.y.z>
#   -P manual_page.cmake      (EMULATOR: what runs a cross-built tool here)
execute_process(COMMAND ${EMULATOR} "${LAYOUT_SIZE}" OUTPUT_VARIABLE size RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
if(failed OR NOT size MATCHES "^([0-9]+) ([0-9]+)$")
  message(FATAL_ERROR "${LAYOUT_SIZE} gave no size: '${size}'")
endif()
set(BOOTCAMP_COLUMNS ${CMAKE_MATCH_1})
set(BOOTCAMP_ROWS ${CMAKE_MATCH_2})
set(BOOTCAMP_VERSION ${VERSION})
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
