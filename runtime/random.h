// The process-wide random generator. Ids, tags, ports and tokens all come from here; the
// library never calls rand()/srand(). The generator is seeded once per process from the
// system's entropy and is safe to call from any thread; tests can seed it for repeatable runs.
#ifndef KORVEN_RUNTIME_RANDOM_H
#define KORVEN_RUNTIME_RANDOM_H

#include <cstdint>

// Reseeds the generator (tests only).
void NPC_F_SYS_RANDOM_Seed(uint64_t seed);
// 32 random bits.
uint32_t NPC_F_SYS_RANDOM_Next32();
// 64 random bits.
uint64_t NPC_F_SYS_RANDOM_Next64();
// A value in [0, n); 0 when n is 0.
uint32_t NPC_F_SYS_RANDOM_Below(uint32_t n);
// A new tag for a reused table slot: a value in [1, mask] (mask is of the form 2^k - 1,
// k >= 2) that differs from previous. Used for the random high bits of table ids so that a
// stale id of a reused slot is refused and no id is 0.
uint32_t NPC_F_SYS_RANDOM_NewTag(uint32_t previous, uint32_t mask);
// Fills buf with n random bytes.
void NPC_F_SYS_RANDOM_Fill(void* buf, uint32_t n);

// A random number in [0, 0x7FFFFFFF], the range of the C library's rand() on the target.
int NPC_F_SYS_GetRandomNumber();

#endif
