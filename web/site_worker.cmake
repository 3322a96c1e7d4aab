# Writes the service worker (sw.js.in) for a built site: the cache it keeps is
# named for a hash of the site's files, so every build that changes any of
# them gets a cache of its own.
#   cmake -DSITE=DIR -DFILES=a,b,... -DTEMPLATE=sw.js.in -DOUT=sw.js -P site_worker.cmake
string(REPLACE "," ";" FILES "${FILES}")
set(digests "")
set(SITE_FILES "'./'")
foreach(name IN LISTS FILES)
  file(SHA256 ${SITE}/${name} digest)
  string(APPEND digests "${name} ${digest}\n")
  string(APPEND SITE_FILES ", '${name}'")
endforeach()
string(SHA256 SITE_HASH "${digests}")
string(SUBSTRING ${SITE_HASH} 0 16 SITE_HASH)
configure_file(${TEMPLATE} ${OUT} @ONLY)
