# The static site of the browser build: the page, the game's JS and wasm, the terminal's script and
# style, the manifest, icons and service worker that make it installable and playable offline,
# all in ${CMAKE_BINARY_DIR}/site with relative links only, to be served from anywhere.

# The game's blocking waits suspend into the browser (ASYNCIFY; 64 KiB holds the game's deepest
# call stack at a wait). Only the functions on a path from main to the page's wait are made able
# to suspend (a function on such a path missing here crashes the game at that wait, so the
# browser tests reach every wait): the whole program instrumented would be more than twice the
# size. The patterns match the names in the wasm; those that the optimizer inlined match nothing
# and are kept for the day it does not. dynCall_* carry the calls made inside try blocks.
set(BOOTCAMP_WAIT_PATHS
  main
  openTerminal* *waitUntilLargeEnough* *readEvents* backend::read*
  runGame* *restartChosen* runEvent* *chooseOption* waitForKey*
  dynCall_*)
list(JOIN BOOTCAMP_WAIT_PATHS "\n" BOOTCAMP_WAIT_PATHS_TEXT)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/asyncify_waits.txt CONTENT "${BOOTCAMP_WAIT_PATHS_TEXT}\n")
set_property(TARGET bootcamp APPEND PROPERTY LINK_DEPENDS ${CMAKE_BINARY_DIR}/asyncify_waits.txt)
# stdout reaches the page byte by byte only with the whole file system. Each game is a fresh
# instance of the module whose main the page calls (MODULARIZE, no run of its own), so a new game
# starts as a new process would. The smallest code (-Oz, across the whole program with -flto,
# set for the web build in CMakeLists.txt) and the small allocator: the game allocates little.
target_link_options(bootcamp PRIVATE
  -sASYNCIFY
  -sASYNCIFY_STACK_SIZE=65536
  -sASYNCIFY_ONLY=@${CMAKE_BINARY_DIR}/asyncify_waits.txt
  -sMALLOC=emmalloc
  -sFORCE_FILESYSTEM=1
  -sMODULARIZE=1
  -sEXPORT_NAME=createBootcamp
  -sENVIRONMENT=web
  -sINVOKE_RUN=0
  -sEXPORTED_FUNCTIONS=_main
  -sEXPORTED_RUNTIME_METHODS=ccall)

set(BOOTCAMP_SITE ${CMAKE_BINARY_DIR}/site)
set(BOOTCAMP_NPM ${CMAKE_BINARY_DIR}/npm)
set(BOOTCAMP_XTERM ${BOOTCAMP_NPM}/node_modules/@xterm/xterm)
# The accessibility checker the end-to-end tests run on the page; it stays out of the site.
set(BOOTCAMP_AXE ${BOOTCAMP_NPM}/node_modules/axe-core/axe.min.js)

# The terminal, and what the end-to-end tests use (the checker, puppeteer-core to drive Firefox),
# as pinned by the lock file, installed into the build tree. They are installed again only when
# the lock file changes; npm takes them from its cache when it can.
find_program(BOOTCAMP_NPM_PROGRAM npm)
if(NOT BOOTCAMP_NPM_PROGRAM)
  message(FATAL_ERROR "npm not found: the site needs it to install its terminal (on Debian: apt-get install npm)")
endif()
file(MAKE_DIRECTORY ${BOOTCAMP_NPM})
add_custom_command(
  OUTPUT ${BOOTCAMP_XTERM}/lib/xterm.js ${BOOTCAMP_XTERM}/css/xterm.css ${BOOTCAMP_XTERM}/LICENSE ${BOOTCAMP_AXE}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different
    ${CMAKE_SOURCE_DIR}/web/package.json ${CMAKE_SOURCE_DIR}/web/package-lock.json ${BOOTCAMP_NPM}
  COMMAND ${BOOTCAMP_NPM_PROGRAM} ci --prefer-offline --no-audit --no-fund --loglevel=error
  COMMAND ${CMAKE_COMMAND} -E touch ${BOOTCAMP_XTERM}/lib/xterm.js ${BOOTCAMP_XTERM}/css/xterm.css ${BOOTCAMP_XTERM}/LICENSE
    ${BOOTCAMP_AXE}
  WORKING_DIRECTORY ${BOOTCAMP_NPM}
  DEPENDS ${CMAKE_SOURCE_DIR}/web/package.json ${CMAKE_SOURCE_DIR}/web/package-lock.json
  COMMENT "Installing the terminal for the page and what its tests use (npm ci)"
  VERBATIM)

# The site's files as they are written, in one folder; the site itself is made from them by
# web/stamp_site.cmake (names of their content, the page, the service worker).
set(BOOTCAMP_SITE_STAGE ${CMAKE_BINARY_DIR}/site-files)
file(MAKE_DIRECTORY ${BOOTCAMP_SITE_STAGE})
# The page's modules, one a job (page.js puts them together).
set(BOOTCAMP_PAGE_MODULES page.js view.js text_view.js gauges.js game.js keys.js offline.js)
set(BOOTCAMP_SITE_FILES
  "${CMAKE_SOURCE_DIR}/web/page.css|page.css"
  "${CMAKE_SOURCE_DIR}/web/manifest.webmanifest|manifest.webmanifest"
  "${BOOTCAMP_XTERM}/lib/xterm.js|xterm.js"
  "${BOOTCAMP_XTERM}/css/xterm.css|xterm.css"
  "${BOOTCAMP_XTERM}/LICENSE|xterm-LICENSE.txt"
  "$<TARGET_FILE:bootcamp>|bootcamp.js"
  "$<TARGET_FILE_DIR:bootcamp>/bootcamp.wasm|bootcamp.wasm")
foreach(module IN LISTS BOOTCAMP_PAGE_MODULES)
  list(APPEND BOOTCAMP_SITE_FILES "${CMAKE_SOURCE_DIR}/web/${module}|${module}")
endforeach()
set(BOOTCAMP_SITE_OUTPUTS "")
foreach(entry IN LISTS BOOTCAMP_SITE_FILES)
  string(REPLACE "|" ";" pair "${entry}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  # The wasm comes with the JS, from the same link.
  if(to STREQUAL "bootcamp.wasm")
    set(depends "$<TARGET_FILE:bootcamp>")
  else()
    set(depends "${from}")
  endif()
  add_custom_command(OUTPUT ${BOOTCAMP_SITE_STAGE}/${to}
    COMMAND ${CMAKE_COMMAND} -E copy ${from} ${BOOTCAMP_SITE_STAGE}/${to}
    DEPENDS ${depends} bootcamp
    VERBATIM)
  list(APPEND BOOTCAMP_SITE_OUTPUTS ${BOOTCAMP_SITE_STAGE}/${to})
endforeach()

# The icons of the installed page, drawn at build time.
find_program(BOOTCAMP_NODE_PROGRAM NAMES node nodejs)
if(NOT BOOTCAMP_NODE_PROGRAM)
  message(FATAL_ERROR "node not found: the site's icons are drawn with it (on Debian: apt-get install nodejs)")
endif()
add_custom_command(OUTPUT ${BOOTCAMP_SITE_STAGE}/icon-192.png ${BOOTCAMP_SITE_STAGE}/icon-512.png
  COMMAND ${BOOTCAMP_NODE_PROGRAM} ${CMAKE_SOURCE_DIR}/web/make_icons.js ${BOOTCAMP_SITE_STAGE} 192 512
  DEPENDS ${CMAKE_SOURCE_DIR}/web/make_icons.js
  VERBATIM)
list(APPEND BOOTCAMP_SITE_OUTPUTS ${BOOTCAMP_SITE_STAGE}/icon-192.png ${BOOTCAMP_SITE_STAGE}/icon-512.png)

# The site, made whole from those files each time one changes: the page (its title shows the
# project's version) and the service worker last.
add_custom_command(OUTPUT ${BOOTCAMP_SITE}/index.html ${BOOTCAMP_SITE}/sw.js
  COMMAND ${CMAKE_COMMAND} -DFILES=${BOOTCAMP_SITE_STAGE} -DSITE=${BOOTCAMP_SITE} -DWEB=${CMAKE_SOURCE_DIR}/web
    -DPROJECT_VERSION=${PROJECT_VERSION} -P ${CMAKE_SOURCE_DIR}/web/stamp_site.cmake
  DEPENDS ${BOOTCAMP_SITE_OUTPUTS} ${CMAKE_SOURCE_DIR}/web/index.html ${CMAKE_SOURCE_DIR}/web/sw.js
    ${CMAKE_SOURCE_DIR}/web/stamp_site.cmake
  VERBATIM)
add_custom_target(site ALL DEPENDS ${BOOTCAMP_SITE}/index.html ${BOOTCAMP_SITE}/sw.js ${BOOTCAMP_AXE})
