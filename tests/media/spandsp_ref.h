// The parts of spandsp the media tests use as an independent reference: the G.711 inline
// coders and the IMA ADPCM coder (DVI4 variant, which frames its output with a 4-byte head).
#ifndef KORVEN_TESTS_MEDIA_SPANDSP_REF_H
#define KORVEN_TESTS_MEDIA_SPANDSP_REF_H

#include <cstdint>

// spandsp's headers are C headers that expect these to be included first.
#include <spandsp/telephony.h>
#include <spandsp/bit_operations.h>
#include <spandsp/g711.h>
#include <spandsp/ima_adpcm.h>

#endif
