// The eight classic string hashes and the string-keyed hash table of non-zero i32 values.
// The table places a key by its AP hash modulo the bucket count; chains are singly linked
// and keep insertion order. When an add lands in an occupied bucket while nine tenths of the
// buckets are in use (non-empty count x 10 / bucket count > 8), or while the table holds more
// than four nodes per bucket, the table doubles its buckets first (a failed doubling leaves
// the table as it was; the add goes ahead). The second trigger matters because the AP hash
// spreads similar keys (numbered names, addresses) unevenly over power-of-two bucket
// counts: a quarter of the buckets can stay empty, so the first trigger alone would stop
// the growth and let chains grow with the item count. Each node is one allocation holding
// its key copy.
#include "runtime/hash.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const uint8_t* bytesOf(const void* data, int len) {
  return (data && len > 0) ? static_cast<const uint8_t*>(data) : nullptr;
}

}  // namespace

uint32_t NPC_F_TOOLS_HASHAR_SDBMHash(const void* data, int len) {
  const uint8_t* p = bytesOf(data, len);
  uint32_t h = 0;
  for (int i = 0; p && i < len; ++i) h = p[i] + (h << 6) + (h << 16) - h;
  return h & 0x7FFFFFFFu;
}

uint32_t NPC_F_TOOLS_HASHAR_RSHash(const void* data, int len) {
  const uint8_t* p = bytesOf(data, len);
  uint32_t a = 63689, h = 0;
  const uint32_t b = 378551;
  for (int i = 0; p && i < len; ++i) {
    h = h * a + p[i];
    a *= b;
  }
  return h & 0x7FFFFFFFu;
}

uint32_t NPC_F_TOOLS_HASHAR_JSHash(const void* data, int len) {
  const uint8_t* p = bytesOf(data, len);
  uint32_t h = 1315423911u;
  for (int i = 0; p && i < len; ++i) h ^= (h << 5) + p[i] + (h >> 2);
  return h & 0x7FFFFFFFu;
}

// Peter J. Weinberger's hash for 32-bit words: shift in a nibble-wide step and fold the top
// four bits back into bits 4..7 whenever they are set.
uint32_t NPC_F_TOOLS_HASHAR_PJWHash(const void* data, int len) {
  const uint8_t* p = bytesOf(data, len);
  const uint32_t highBits = 0xF0000000u;
  uint32_t h = 0;
  for (int i = 0; p && i < len; ++i) {
    h = (h << 4) + p[i];
    uint32_t test = h & highBits;
    if (test != 0) h = (h ^ (test >> 24)) & ~highBits;
  }
  return h & 0x7FFFFFFFu;
}

// The hash of the Unix ELF object format: PJW's fold written the ELF way.
uint32_t NPC_F_TOOLS_HASHAR_ELFHash(const void* data, int len) {
  const uint8_t* p = bytesOf(data, len);
  uint32_t h = 0;
  for (int i = 0; p && i < len; ++i) {
    h = (h << 4) + p[i];
    uint32_t x = h & 0xF0000000u;
    if (x != 0) h ^= x >> 24;
    h &= ~x;
  }
  return h & 0x7FFFFFFFu;
}

uint32_t NPC_F_TOOLS_HASHAR_BKDRHash(const void* data, int len) {
  const uint8_t* p = bytesOf(data, len);
  uint32_t h = 0;
  for (int i = 0; p && i < len; ++i) h = h * 131u + p[i];
  return h & 0x7FFFFFFFu;
}

uint32_t NPC_F_TOOLS_HASHAR_DJBHash(const void* data, int len) {
  const uint8_t* p = bytesOf(data, len);
  uint32_t h = 5381;
  for (int i = 0; p && i < len; ++i) h = (h << 5) + h + p[i];
  return h & 0x7FFFFFFFu;
}

// Arash Partow's hash, starting from 0: even positions mix in (h << 7) ^ b ^ (h >> 3), odd
// positions the complement of (h << 11) ^ b ^ (h >> 5). 0 for an empty input.
uint32_t NPC_F_TOOLS_HASHAR_APHash(const void* data, int len) {
  const uint8_t* p = bytesOf(data, len);
  uint32_t h = 0;
  for (int i = 0; p && i < len; ++i) {
    if ((i & 1) == 0)
      h ^= (h << 7) ^ p[i] ^ (h >> 3);
    else
      h ^= ~((h << 11) ^ p[i] ^ (h >> 5));
  }
  return h & 0x7FFFFFFFu;
}

namespace {

struct NPC_S_TOOLS_HASHT_NODE {
  NPC_S_TOOLS_HASHT_NODE* pNext;
  int32_t iValue;
  int iKeyLen;
  // The key bytes follow the node.
};

struct NPC_S_TOOLS_HASHT_DATA {
  int iBucketNum = 0;
  bool bUnique = false;
  NPC_S_TOOLS_HASHT_NODE** pBuckets = nullptr;
  int iUsedBucketNum = 0;  // buckets with at least one node
  long long qwNodeNum = 0;
};

const uint8_t* keyOf(const NPC_S_TOOLS_HASHT_NODE* n) { return reinterpret_cast<const uint8_t*>(n + 1); }

bool sameKey(const NPC_S_TOOLS_HASHT_NODE* n, const void* key, int keyLen) {
  return n->iKeyLen == keyLen && (keyLen == 0 || memcmp(keyOf(n), key, static_cast<size_t>(keyLen)) == 0);
}

int bucketOf(const void* key, int keyLen, int bucketNum) {
  return static_cast<int>(NPC_F_TOOLS_HASHAR_APHash(key, keyLen) % static_cast<uint32_t>(bucketNum));
}

// Doubles the bucket array and moves every node to its new bucket, keeping the relative
// order of nodes that land in the same chain. Returns false (table untouched) when the
// count would overflow or memory runs out.
bool growTable(NPC_S_TOOLS_HASHT_DATA* t) {
  if (t->iBucketNum > INT_MAX / 2) return false;
  int newNum = t->iBucketNum * 2;
  auto** buckets = static_cast<NPC_S_TOOLS_HASHT_NODE**>(calloc(static_cast<size_t>(newNum), sizeof(void*)));
  auto** tails = static_cast<NPC_S_TOOLS_HASHT_NODE**>(calloc(static_cast<size_t>(newNum), sizeof(void*)));
  if (!buckets || !tails) {
    free(buckets);
    free(tails);
    return false;
  }
  int used = 0;
  for (int i = 0; i < t->iBucketNum; ++i) {
    NPC_S_TOOLS_HASHT_NODE* n = t->pBuckets[i];
    while (n) {
      NPC_S_TOOLS_HASHT_NODE* next = n->pNext;
      n->pNext = nullptr;
      int b = bucketOf(keyOf(n), n->iKeyLen, newNum);
      if (tails[b])
        tails[b]->pNext = n;
      else {
        buckets[b] = n;
        ++used;
      }
      tails[b] = n;
      n = next;
    }
  }
  free(tails);
  free(t->pBuckets);
  t->pBuckets = buckets;
  t->iBucketNum = newNum;
  t->iUsedBucketNum = used;
  return true;
}

}  // namespace

void* NPC_F_TOOLS_HASHT_CreateHashTable(int bucketCount, int uniqueKeys) {
  if (bucketCount <= 0) return nullptr;
  auto* t = new (std::nothrow) NPC_S_TOOLS_HASHT_DATA;
  if (!t) return nullptr;
  t->pBuckets = static_cast<NPC_S_TOOLS_HASHT_NODE**>(calloc(static_cast<size_t>(bucketCount), sizeof(void*)));
  if (!t->pBuckets) {
    delete t;
    return nullptr;
  }
  t->iBucketNum = bucketCount;
  t->bUnique = uniqueKeys != 0;
  return t;
}

void NPC_F_TOOLS_HASHT_DestroyHashTable(void* table) {
  auto* t = static_cast<NPC_S_TOOLS_HASHT_DATA*>(table);
  if (!t) return;
  for (int i = 0; i < t->iBucketNum; ++i) {
    NPC_S_TOOLS_HASHT_NODE* n = t->pBuckets[i];
    while (n) {
      NPC_S_TOOLS_HASHT_NODE* next = n->pNext;
      free(n);
      n = next;
    }
  }
  free(t->pBuckets);
  delete t;
}

// Adds value under the key (keyLen bytes; an empty key is allowed). The table may first
// grow (see the file comment). With unique keys an existing key fails with 0; without, a
// node with the same key and value already present counts as success and no node is added.
// 0 also for value 0 and when memory runs out.
int NPC_F_TOOLS_HASHT_AddHashData(void* table, int32_t value, const void* key, int keyLen) {
  auto* t = static_cast<NPC_S_TOOLS_HASHT_DATA*>(table);
  if (!t || value == 0 || keyLen < 0 || (keyLen > 0 && !key)) return 0;
  int b = bucketOf(key, keyLen, t->iBucketNum);
  if (t->pBuckets[b] &&
      (static_cast<long long>(t->iUsedBucketNum) * 10 / t->iBucketNum > 8 || t->qwNodeNum > 4LL * t->iBucketNum) &&
      growTable(t))
    b = bucketOf(key, keyLen, t->iBucketNum);

  NPC_S_TOOLS_HASHT_NODE* last = nullptr;
  for (NPC_S_TOOLS_HASHT_NODE* n = t->pBuckets[b]; n; n = n->pNext) {
    if (sameKey(n, key, keyLen)) {
      if (t->bUnique) return 0;
      if (n->iValue == value) return 1;
    }
    last = n;
  }
  auto* node = static_cast<NPC_S_TOOLS_HASHT_NODE*>(malloc(sizeof(NPC_S_TOOLS_HASHT_NODE) + static_cast<size_t>(keyLen)));
  if (!node) return 0;
  node->pNext = nullptr;
  node->iValue = value;
  node->iKeyLen = keyLen;
  if (keyLen > 0) memcpy(node + 1, key, static_cast<size_t>(keyLen));
  if (last)
    last->pNext = node;
  else {
    t->pBuckets[b] = node;
    ++t->iUsedBucketNum;
  }
  ++t->qwNodeNum;
  return 1;
}

// Removes every node with the key; 1 when at least one was removed.
int NPC_F_TOOLS_HASHT_DelHashDataByKey(void* table, const void* key, int keyLen) {
  auto* t = static_cast<NPC_S_TOOLS_HASHT_DATA*>(table);
  if (!t || keyLen < 0 || (keyLen > 0 && !key)) return 0;
  int b = bucketOf(key, keyLen, t->iBucketNum);
  int removed = 0;
  NPC_S_TOOLS_HASHT_NODE** link = &t->pBuckets[b];
  while (*link) {
    NPC_S_TOOLS_HASHT_NODE* n = *link;
    if (sameKey(n, key, keyLen)) {
      *link = n->pNext;
      free(n);
      ++removed;
      --t->qwNodeNum;
    } else {
      link = &n->pNext;
    }
  }
  if (removed && !t->pBuckets[b]) --t->iUsedBucketNum;
  return removed ? 1 : 0;
}

int32_t NPC_F_TOOLS_HASHT_QueryHashDataByKey(void* table, const void* key, int keyLen) {
  auto* t = static_cast<NPC_S_TOOLS_HASHT_DATA*>(table);
  if (!t || keyLen < 0 || (keyLen > 0 && !key)) return 0;
  for (NPC_S_TOOLS_HASHT_NODE* n = t->pBuckets[bucketOf(key, keyLen, t->iBucketNum)]; n; n = n->pNext)
    if (sameKey(n, key, keyLen)) return n->iValue;
  return 0;
}

int NPC_F_TOOLS_HASHT_StatListLen(void* table) {
  auto* t = static_cast<NPC_S_TOOLS_HASHT_DATA*>(table);
  if (!t) return 0;
  int longest = 0;
  for (int i = 0; i < t->iBucketNum; ++i) {
    int n = 0;
    for (NPC_S_TOOLS_HASHT_NODE* p = t->pBuckets[i]; p; p = p->pNext) ++n;
    if (n > longest) longest = n;
  }
  return longest;
}
