# Writes the site's service worker from its template: every file of the site but sw.js with its
# SHA-256, and the version, a digest of that list (so any change to a file is a new version).
# usage: cmake -DSITE=<the site's folder> -DTEMPLATE=web/sw.js -P web/stamp_service_worker.cmake
file(GLOB names RELATIVE ${SITE} ${SITE}/*)
list(REMOVE_ITEM names sw.js)
list(SORT names)
set(BOOTCAMP_SITE_FILES "")
foreach(name IN LISTS names)
  file(SHA256 ${SITE}/${name} digest)
  string(APPEND BOOTCAMP_SITE_FILES "  '${name}': '${digest}',\n")
endforeach()
string(SHA256 BOOTCAMP_SITE_VERSION "${BOOTCAMP_SITE_FILES}")
string(SUBSTRING ${BOOTCAMP_SITE_VERSION} 0 16 BOOTCAMP_SITE_VERSION)
configure_file(${TEMPLATE} ${SITE}/sw.js @ONLY)
