# The media suite compares the codecs with spandsp, an independent implementation of G.711
# and IMA ADPCM (libspandsp-dev, installed by scripts/bootstrap).
pkg_check_modules(SPANDSP REQUIRED IMPORTED_TARGET spandsp)
target_link_libraries(${SUITE_TARGET} PRIVATE PkgConfig::SPANDSP)
