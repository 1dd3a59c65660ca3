// The eight string hashes and the checksum against reference vectors that
// tests/data/runtime/make_hash_vectors.py computed independently of this code.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/hash.h"
#include "runtime/systime.h"
#include "support/test_support.h"

namespace {

// Rebuilds the bytes of an input description as the generator script defines it.
std::vector<uint8_t> expand(const std::string& input) {
  std::vector<uint8_t> out;
  size_t colon = input.find(':');
  std::string kind = input.substr(0, colon), rest = input.substr(colon + 1);
  if (kind == "hex") {
    for (size_t i = 0; i + 1 < rest.size(); i += 2)
      out.push_back(static_cast<uint8_t>(std::stoul(rest.substr(i, 2), nullptr, 16)));
    return out;
  }
  size_t c2 = rest.find(':');
  uint32_t value = static_cast<uint32_t>(std::stoul(rest.substr(0, c2)));
  size_t len = std::stoul(rest.substr(c2 + 1));
  out.resize(len);
  if (kind == "fill") {
    for (auto& b : out) b = static_cast<uint8_t>(value);
  } else if (kind == "lcg") {
    uint32_t x = value;
    for (auto& b : out) {
      x = x * 1103515245u + 12345u;
      b = static_cast<uint8_t>(x >> 16);
    }
  } else {
    ADD_FAILURE() << "unknown input " << input;
  }
  return out;
}

// Lines of a vector file without its comments: the input description and the expected values.
std::vector<std::pair<std::string, std::vector<uint32_t>>> readVectors(const std::string& name) {
  std::vector<std::pair<std::string, std::vector<uint32_t>>> rows;
  std::ifstream in(korven_test::sourceDir() + "/tests/data/runtime/" + name);
  EXPECT_TRUE(in.good()) << "cannot read " << name;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ls(line);
    std::string input, word;
    ls >> input;
    std::vector<uint32_t> values;
    while (ls >> word) values.push_back(static_cast<uint32_t>(std::stoul(word, nullptr, 16)));
    rows.emplace_back(input, values);
  }
  return rows;
}

TEST(StringHashes, MatchIndependentReference) {
  using HashFn = uint32_t (*)(const void*, int);
  const HashFn fns[] = {NPC_F_TOOLS_HASHAR_SDBMHash, NPC_F_TOOLS_HASHAR_RSHash,  NPC_F_TOOLS_HASHAR_JSHash,
                        NPC_F_TOOLS_HASHAR_PJWHash,  NPC_F_TOOLS_HASHAR_ELFHash, NPC_F_TOOLS_HASHAR_BKDRHash,
                        NPC_F_TOOLS_HASHAR_DJBHash,  NPC_F_TOOLS_HASHAR_APHash};
  const char* names[] = {"SDBM", "RS", "JS", "PJW", "ELF", "BKDR", "DJB", "AP"};
  auto rows = readVectors("hash_vectors.txt");
  ASSERT_GE(rows.size(), 10u);
  for (const auto& [input, expected] : rows) {
    ASSERT_EQ(expected.size(), 8u) << input;
    std::vector<uint8_t> data = expand(input);
    for (int i = 0; i < 8; ++i) {
      uint32_t got = fns[i](data.data(), static_cast<int>(data.size()));
      EXPECT_EQ(got, expected[i]) << names[i] << " of " << input.substr(0, 60);
      EXPECT_EQ(got & 0x80000000u, 0u) << names[i];
    }
  }
}

TEST(StringHashes, NullDataIsEmptyInput) {
  EXPECT_EQ(NPC_F_TOOLS_HASHAR_APHash(nullptr, 5), 0u);
  EXPECT_EQ(NPC_F_TOOLS_HASHAR_DJBHash(nullptr, 0), 5381u);
  EXPECT_EQ(NPC_F_TOOLS_HASHAR_SDBMHash("x", -1), 0u);
}

TEST(CheckSum, MatchesIndependentReferenceIncludingMegabyteInputs) {
  auto rows = readVectors("checksum_vectors.txt");
  ASSERT_GE(rows.size(), 10u);
  bool sawLong = false;
  for (const auto& [input, expected] : rows) {
    ASSERT_EQ(expected.size(), 1u) << input;
    std::vector<uint8_t> data = expand(input);
    sawLong = sawLong || data.size() > 3 * 1024 * 1024;
    EXPECT_EQ(NPC_F_SYS_CheckSum(data.data(), data.size()), expected[0]) << input;
  }
  EXPECT_TRUE(sawLong);
}

TEST(CheckSum, ShortCasesFromTheContract) {
  const uint8_t oneZero[] = {0x01, 0x00};
  EXPECT_EQ(NPC_F_SYS_CheckSum(oneZero, 2), 0xFFFFFFFEu);
  EXPECT_EQ(NPC_F_SYS_CheckSum(oneZero, 0), 0xFFFFFFFFu);
  EXPECT_EQ(NPC_F_SYS_CheckSum(nullptr, 0), 0xFFFFFFFFu);
}

}  // namespace
