# Writes the site from its files: each script, style and the wasm under a name of its content
# (name.<16 hex digits of its SHA-256>.ext), every other file as it is; the page (index.html)
# pointing at those names, with an import map that takes the modules' own imports and the wasm
# to them; and the service worker, which lists every file with its SHA-256 and the version (a
# digest of that list). A page can thus never take a file of another version: any change is
# another name.
# usage: cmake -DFILES=<the site's files> -DSITE=<the site> -DWEB=<web/> -DPROJECT_VERSION=<version>
#              -P web/stamp_site.cmake
file(REMOVE_RECURSE ${SITE})
file(MAKE_DIRECTORY ${SITE})
file(GLOB names RELATIVE ${FILES} ${FILES}/*)
list(SORT names)
set(imports "")
foreach(name IN LISTS names)
  if(name MATCHES "^(.+)\\.(js|css|wasm)$")
    file(SHA256 ${FILES}/${name} digest)
    string(SUBSTRING ${digest} 0 16 digest)
    set(named "${CMAKE_MATCH_1}.${digest}.${CMAKE_MATCH_2}")
    if(NOT name MATCHES "\\.css$")
      list(APPEND imports "\"./${name}\": \"./${named}\"")
    endif()
  else()
    set(named ${name})
  endif()
  file(COPY_FILE ${FILES}/${name} ${SITE}/${named})
  set(${name} ${named})  # @name@ in the page
endforeach()
list(JOIN imports ", " imports)
set(BOOTCAMP_IMPORT_MAP "{\"imports\": {${imports}}}")
configure_file(${WEB}/index.html ${SITE}/index.html @ONLY)

file(GLOB names RELATIVE ${SITE} ${SITE}/*)
list(SORT names)
set(BOOTCAMP_SITE_FILES "")
foreach(name IN LISTS names)
  file(SHA256 ${SITE}/${name} digest)
  string(APPEND BOOTCAMP_SITE_FILES "  '${name}': '${digest}',\n")
endforeach()
string(SHA256 BOOTCAMP_SITE_VERSION "${BOOTCAMP_SITE_FILES}")
string(SUBSTRING ${BOOTCAMP_SITE_VERSION} 0 16 BOOTCAMP_SITE_VERSION)
configure_file(${WEB}/sw.js ${SITE}/sw.js @ONLY)
