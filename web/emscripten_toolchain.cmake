# The toolchain of the web preset: Emscripten's own CMake toolchain, wherever this machine keeps it
# (Debian's emscripten package, or an emsdk whose environment is loaded), found through em-config.
find_program(BOOTCAMP_EM_CONFIG em-config)
if(NOT BOOTCAMP_EM_CONFIG)
  message(FATAL_ERROR "em-config not found: install Emscripten (on Debian: apt-get install emscripten)")
endif()
execute_process(COMMAND ${BOOTCAMP_EM_CONFIG} EMSCRIPTEN_ROOT
  OUTPUT_VARIABLE BOOTCAMP_EMSCRIPTEN_ROOT OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE BOOTCAMP_EM_CONFIG_STATUS)
if(NOT BOOTCAMP_EM_CONFIG_STATUS EQUAL 0 OR NOT EXISTS "${BOOTCAMP_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake")
  message(FATAL_ERROR "em-config did not tell where Emscripten is (got '${BOOTCAMP_EMSCRIPTEN_ROOT}')")
endif()
include("${BOOTCAMP_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake")
