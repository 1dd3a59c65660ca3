// The three-level index table that hands out 32-bit ids: byte 0 the leaf entry, byte 1 the
// middle slot, byte 2 the top slot, byte 3 a tag. A lookup compares the whole id, so a stale
// id of a reused entry finds nothing. Ids are never 0. The table does not lock.
#ifndef KORVEN_RUNTIME_MIT_H
#define KORVEN_RUNTIME_MIT_H

#include <cstdint>

void* NPC_F_MIT_CreateIndexTableModule();
void NPC_F_MIT_DestroyIndexTableModule(void* table);
// Stores ptr in a free entry; returns the new id, 0 when full or ptr is null.
uint32_t NPC_F_MIT_AddDataItem(void* table, void* ptr);
// Stores ptr under the given id, creating levels as needed; the id's tag byte must be
// non-zero, and an item already in that entry is replaced.
int NPC_F_MIT_SetDataItem(void* table, uint32_t id, void* ptr);
int NPC_F_MIT_DeleteDataItem(void* table, uint32_t id);
// The pointer when the entry holds exactly this id, else null.
void* NPC_F_MIT_QueryDataItemByDataId(void* table, uint32_t id);
// Iteration in slot order: return the pointer and set *id; null at the end.
void* NPC_F_MIT_QueryFirstData(void* table, uint32_t* id);
void* NPC_F_MIT_QueryNextData(void* table, uint32_t* id);
// Number of stored items.
int NPC_F_MIT_GetItemCount(void* table);

#endif
