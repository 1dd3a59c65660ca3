// A stand-in for libFuzzer's driver, so that every fuzz target also builds with g++ and runs
// in the sanitizer test build: it feeds the target each file of its seed corpus, then a
// fixed number of deterministic mutations of those seeds (byte flips, cuts, splices and
// random bytes). The real coverage-guided runs use clang and scripts/fuzz.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static std::vector<uint8_t> readFile(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  fclose(f);
  return out;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s <corpus dir> [iterations]\n", argv[0]);
    return 2;
  }
  long iterations = argc > 2 ? strtol(argv[2], nullptr, 10) : 20000;
  std::vector<std::vector<uint8_t>> seeds;
  if (DIR* d = opendir(argv[1])) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      seeds.push_back(readFile(std::string(argv[1]) + "/" + e->d_name));
    }
    closedir(d);
  }
  if (seeds.empty()) seeds.emplace_back();
  for (const auto& s : seeds) LLVMFuzzerTestOneInput(s.data(), s.size());

  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  std::vector<uint8_t> buf;
  for (long i = 0; i < iterations; ++i) {
    buf = seeds[next() % seeds.size()];
    int edits = 1 + static_cast<int>(next() % 8);
    for (int e = 0; e < edits; ++e) {
      switch (next() % 5) {
        case 0:  // flip a byte
          if (!buf.empty()) buf[next() % buf.size()] ^= static_cast<uint8_t>(1u << (next() % 8));
          break;
        case 1:  // set a byte to an interesting value
          if (!buf.empty()) {
            static const uint8_t kVals[] = {0, 1, 0x7F, 0x80, 0xFF, 0x14, 0x28};
            buf[next() % buf.size()] = kVals[next() % sizeof kVals];
          }
          break;
        case 2:  // cut the tail
          if (!buf.empty()) buf.resize(next() % buf.size());
          break;
        case 3: {  // insert random bytes
          size_t at = buf.empty() ? 0 : next() % (buf.size() + 1);
          size_t n = 1 + next() % 16;
          std::vector<uint8_t> ins(n);
          for (auto& b : ins) b = static_cast<uint8_t>(next());
          buf.insert(buf.begin() + static_cast<long>(at), ins.begin(), ins.end());
          break;
        }
        default: {  // splice in a piece of another seed
          const auto& other = seeds[next() % seeds.size()];
          if (!other.empty()) {
            size_t from = next() % other.size();
            size_t n = 1 + next() % (other.size() - from);
            size_t at = buf.empty() ? 0 : next() % (buf.size() + 1);
            buf.insert(buf.begin() + static_cast<long>(at), other.begin() + static_cast<long>(from),
                       other.begin() + static_cast<long>(from + n));
          }
        }
      }
    }
    if (buf.size() > (1u << 20)) buf.resize(1u << 20);
    LLVMFuzzerTestOneInput(buf.data(), buf.size());
  }
  printf("%s: %zu seeds, %ld mutations, clean\n", argv[0], seeds.size(), iterations);
  return 0;
}
