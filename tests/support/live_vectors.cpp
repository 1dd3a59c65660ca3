// Reads the live-view vectors for the whole-stack suites.
#include "live_vectors.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "test_support.h"

namespace korven_test {

std::vector<uint8_t> readSourceFile(const std::string& rel) {
  std::ifstream f(sourceDir() + "/" + rel, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// The packet list beside the vector holds one "size,flags" line per access unit, flags "K_" for
// a key frame.
std::vector<AccessUnit> liveAccessUnits() {
  const std::vector<uint8_t> file = readSourceFile(kLiveVideo);
  std::ifstream list(sourceDir() + "/tests/data/live/h264_640x360_25fps.packets.csv");
  std::vector<AccessUnit> out;
  std::string line;
  size_t off = 0;
  while (std::getline(list, line)) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    const size_t size = std::stoul(line.substr(0, comma));
    if (off + size > file.size()) break;
    out.push_back({std::vector<uint8_t>(file.begin() + static_cast<long>(off),
                                        file.begin() + static_cast<long>(off + size)),
                   line.compare(comma + 1, 1, "K") == 0});
    off += size;
  }
  EXPECT_EQ(off, file.size());
  return out;
}

}  // namespace korven_test
