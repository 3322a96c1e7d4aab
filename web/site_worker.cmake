# Writes the service worker (sw.js) for a built site: the cache it keeps is
# named for a hash of the site's files, so every build that changes any of
# them gets a cache of its own.
#   cmake -DSITE=DIR -DFILES=a,b,... -DTEMPLATE=sw.js -DOUT=sw.js -P site_worker.cmake
string(REPLACE "," ";" names "${FILES}")
# Sorted: the same files make the same worker, whatever order they come in.
list(SORT names)
list(JOIN names , SITE_FILES)
set(SITE_FILES "./,${SITE_FILES}")
set(digests "")
foreach(name IN LISTS names)
  file(SHA256 ${SITE}/${name} digest)
  string(APPEND digests "${name} ${digest}\n")
endforeach()
string(SHA256 SITE_HASH "${digests}")
string(SUBSTRING ${SITE_HASH} 0 16 SITE_HASH)
configure_file(${TEMPLATE} ${OUT} @ONLY)
