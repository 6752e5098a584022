# The game's options, answered with no terminal at all: standard input /dev/null, output to pipes.
# Exit statuses, which text goes where, no escape byte anywhere, --version against the project's.
# cmake -DGAME=<bootcamp> [-DEMULATOR=<wine>] -DVERSION=<x.y.z> [-DLAYOUT_SIZE=<tool>] -P options_test.cmake
string(ASCII 27 esc)

# Runs the game with the arguments; sets status, out and err (line ends as on POSIX), and fails
# when either output holds an escape byte.
function(play)
  execute_process(COMMAND ${EMULATOR} ${GAME} ${ARGN} INPUT_FILE /dev/null
    RESULT_VARIABLE result OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr TIMEOUT 60)
  # The game never ends with nothing said on either output; wine, on a loaded machine, now and then
  # fails to start a program that way (status 1, nothing written): that is tried once more.
  if(EMULATOR AND result EQUAL 1 AND stdout STREQUAL "" AND stderr STREQUAL "")
    execute_process(COMMAND ${EMULATOR} ${GAME} ${ARGN} INPUT_FILE /dev/null
      RESULT_VARIABLE result OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr TIMEOUT 60)
  endif()
  string(REPLACE "\r\n" "\n" stdout "${stdout}")
  string(REPLACE "\r\n" "\n" stderr "${stderr}")
  set(status "${result}" PARENT_SCOPE)
  set(out "${stdout}" PARENT_SCOPE)
  set(err "${stderr}" PARENT_SCOPE)
  string(FIND "${stdout}${stderr}" "${esc}" at)
  if(NOT at EQUAL -1)
    set(out "${stdout}")
    set(err "${stderr}")
    fail("${ARGN}: an escape byte written")
  endif()
endfunction()

function(fail what)
  string(REPLACE "${esc}" "<ESC>" what "${what}")
  string(REPLACE "${esc}" "<ESC>" shown_out "${out}")
  string(REPLACE "${esc}" "<ESC>" shown_err "${err}")
  message(SEND_ERROR "${what}: status ${status}\nstdout: [${shown_out}]\nstderr: [${shown_err}]")
endfunction()

play(--help)
set(help "${out}")
if(NOT (status EQUAL 0 AND err STREQUAL "" AND
        out MATCHES "^Usage: bootcamp .*ENTER.*0, 1, 2.*Q .*Ctrl\\+C.*--help.*--version.*\n$"))
  fail("--help: the usage, the keys and the options on stdout, status 0, nothing on stderr")
endif()
if(LAYOUT_SIZE)
  execute_process(COMMAND ${LAYOUT_SIZE} OUTPUT_VARIABLE size OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE "^([0-9]+) ([0-9]+) ([0-9]+) ([0-9]+) ([0-9]+) ([0-9]+)$"
    "at least \\3 columns and \\4 rows;\\5 columns;\\1 columns and \\2 rows" windows "${size}")
  string(REGEX REPLACE "[ \n]+" " " said "${help}")
  foreach(needed IN LISTS windows)
    string(FIND "${said}" "${needed}" at)
    if(at EQUAL -1)
      fail("--help does not give the windows the game plays in: '${needed}'")
    endif()
  endforeach()
endif()

# -h is --help, and the help outweighs the other options
foreach(arguments "-h" "--version;--help" "--stacked;--help")
  play(${arguments})
  if(NOT (status EQUAL 0 AND out STREQUAL help))
    fail("${arguments}: not the help")
  endif()
endforeach()

play(--version)
if(NOT (status EQUAL 0 AND out STREQUAL "bootcamp ${VERSION}\n" AND err STREQUAL ""))
  fail("--version: not 'bootcamp ${VERSION}' alone on stdout with status 0")
endif()

# --stacked is an option of the game: with no terminal, the game says so (status 1)
play(--stacked)
if(NOT (status EQUAL 1 AND out STREQUAL "" AND err MATCHES "terminal|console"))
  fail("--stacked: not taken as an option of the game")
endif()

# An argument the game does not know outweighs the options around it; control characters are
# spelt out, never written.
foreach(arguments "--bogus" "--help;--bogus" "${esc}[2J" "-h;play")
  list(GET arguments -1 unknown)
  string(REPLACE "${esc}" "\\x1b" named "${unknown}")
  play(${arguments})
  string(FIND "${err}" "'${named}'" at)
  string(REGEX MATCHALL "\n" lines "${err}")
  list(LENGTH lines lines)
  if(NOT (status EQUAL 2 AND out STREQUAL "" AND lines EQUAL 1 AND NOT at EQUAL -1 AND
          err MATCHES "^bootcamp: .*--help"))
    fail("${arguments}: not status 2 with one line on stderr naming '${named}' and pointing at --help")
  endif()
endforeach()

# Standard output that cannot be written: --help and --version fail, saying so on stderr.
foreach(option --help --version)
  execute_process(COMMAND ${EMULATOR} ${GAME} ${option} INPUT_FILE /dev/null OUTPUT_FILE /dev/full
    RESULT_VARIABLE status ERROR_VARIABLE err TIMEOUT 60)
  set(out "")
  if(status EQUAL 0 OR NOT err MATCHES "^bootcamp: cannot write to standard output")
    fail("${option} > /dev/full: not a failure with the reason on stderr")
  endif()
endforeach()
