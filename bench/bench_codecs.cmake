# bench_codecs measures spandsp's G.711 and IMA ADPCM coders in the same run as the baseline.
pkg_check_modules(SPANDSP REQUIRED IMPORTED_TARGET spandsp)
target_link_libraries(${BENCH_TARGET} PRIVATE PkgConfig::SPANDSP)
