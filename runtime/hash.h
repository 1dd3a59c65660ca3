// A string-keyed hash table of non-zero i32 values, and the eight classic string hashes.
// The table is not locked; its owner serialises access.
#ifndef KORVEN_RUNTIME_HASH_H
#define KORVEN_RUNTIME_HASH_H

#include <cstdint>

// The classic general-purpose string hashes over bytes read as unsigned, each masked to
// 31 bits.
uint32_t NPC_F_TOOLS_HASHAR_SDBMHash(const void* data, int len);
uint32_t NPC_F_TOOLS_HASHAR_RSHash(const void* data, int len);
uint32_t NPC_F_TOOLS_HASHAR_JSHash(const void* data, int len);
uint32_t NPC_F_TOOLS_HASHAR_PJWHash(const void* data, int len);
uint32_t NPC_F_TOOLS_HASHAR_ELFHash(const void* data, int len);
uint32_t NPC_F_TOOLS_HASHAR_BKDRHash(const void* data, int len);
uint32_t NPC_F_TOOLS_HASHAR_DJBHash(const void* data, int len);
uint32_t NPC_F_TOOLS_HASHAR_APHash(const void* data, int len);

// Null for a bucket count of 0 or less.
void* NPC_F_TOOLS_HASHT_CreateHashTable(int bucketCount, int uniqueKeys);
void NPC_F_TOOLS_HASHT_DestroyHashTable(void* table);
// value must be non-zero. With unique keys an existing key fails (0); without, an existing
// node with the same key and value succeeds without a new node.
int NPC_F_TOOLS_HASHT_AddHashData(void* table, int32_t value, const void* key, int keyLen);
// Removes every node with that key; 1 when one was removed.
int NPC_F_TOOLS_HASHT_DelHashDataByKey(void* table, const void* key, int keyLen);
// Value of the first node with that key, 0 when none.
int32_t NPC_F_TOOLS_HASHT_QueryHashDataByKey(void* table, const void* key, int keyLen);
// Length of the longest chain.
int NPC_F_TOOLS_HASHT_StatListLen(void* table);

#endif
