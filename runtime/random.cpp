// The process-wide random generator: splitmix64 over an atomic counter, so any thread can
// draw without a lock. The state is seeded once from the system's entropy; tests may reseed.
#include "runtime/random.h"

#include <atomic>
#include <cstring>
#include <random>

namespace {

constexpr uint64_t kGamma = 0x9E3779B97F4A7C15ull;

std::atomic<uint64_t>& state() {
  static std::atomic<uint64_t> s([] {
    std::random_device rd;
    uint64_t seed = (static_cast<uint64_t>(rd()) << 32) ^ rd();
    return seed;
  }());
  return s;
}

uint64_t mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

void NPC_F_SYS_RANDOM_Seed(uint64_t seed) { state().store(seed, std::memory_order_relaxed); }

uint64_t NPC_F_SYS_RANDOM_Next64() { return mix(state().fetch_add(kGamma, std::memory_order_relaxed) + kGamma); }

uint32_t NPC_F_SYS_RANDOM_Next32() { return static_cast<uint32_t>(NPC_F_SYS_RANDOM_Next64() >> 32); }

uint32_t NPC_F_SYS_RANDOM_Below(uint32_t n) {
  if (n == 0) return 0;
  // Multiply-shift keeps the bias far below anything a caller here could notice.
  return static_cast<uint32_t>((static_cast<uint64_t>(NPC_F_SYS_RANDOM_Next32()) * n) >> 32);
}

uint32_t NPC_F_SYS_RANDOM_NewTag(uint32_t previous, uint32_t mask) {
  if (mask < 3) mask = 3;
  for (;;) {
    uint32_t t = NPC_F_SYS_RANDOM_Next32() & mask;
    if (t != 0 && t != (previous & mask)) return t;
  }
}

void NPC_F_SYS_RANDOM_Fill(void* buf, uint32_t n) {
  auto* p = static_cast<unsigned char*>(buf);
  while (n > 0) {
    uint64_t v = NPC_F_SYS_RANDOM_Next64();
    uint32_t k = n < 8 ? n : 8;
    memcpy(p, &v, k);
    p += k;
    n -= k;
  }
}

int NPC_F_SYS_GetRandomNumber() { return static_cast<int>(NPC_F_SYS_RANDOM_Next32() & 0x7FFFFFFF); }
