// The committed live-view vectors (tests/data/live) as the whole-stack suites compare against
// them: the H.264 file cut into its access units by the sizes ffprobe listed (not by the
// simulator's own cutter), and raw file contents for the audio and its reference samples.
#ifndef KORVEN_TESTS_SUPPORT_LIVE_VECTORS_H
#define KORVEN_TESTS_SUPPORT_LIVE_VECTORS_H

#include <cstdint>
#include <string>
#include <vector>

namespace korven_test {

// Paths relative to the repository root, as the simulator takes them.
constexpr const char* kLiveVideo = "tests/data/live/h264_640x360_25fps.h264";
constexpr const char* kLiveAlaw = "tests/data/live/tone_8k.alaw";
// The 16-bit samples ffmpeg's decoder gives for kLiveAlaw.
constexpr const char* kLiveAlawRef = "tests/data/live/tone_8k_alaw_ref.s16";

// The bytes of a file below the repository root (empty when it cannot be read).
std::vector<uint8_t> readSourceFile(const std::string& rel);

struct AccessUnit {
  std::vector<uint8_t> bytes;
  bool key;
};
// The access units of kLiveVideo with their key flags, in file order. Their sizes add up to the
// file's size (checked with a non-fatal expectation).
std::vector<AccessUnit> liveAccessUnits();

}  // namespace korven_test

#endif
