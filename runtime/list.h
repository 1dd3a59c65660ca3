// Singly linked lists of zero-filled data blocks. The plain list is not locked; the safe
// variant locks every operation that reads or changes the links (add, take-head, delete,
// both cursors, count), so producers and a consumer can share it. Each node holds a block of
// 1 to 104857599 bytes (below 0x6400000). When memory runs out an add fails and the list is
// unchanged.
#ifndef KORVEN_RUNTIME_LIST_H
#define KORVEN_RUNTIME_LIST_H

constexpr int NPC_D_TOOLS_LIST_MAX_BLOCK = 0x6400000 - 1;

void* NPC_F_TOOLS_LIST_CreateList();
void* NPC_F_TOOLS_LIST_CreateSafeList();
void NPC_F_TOOLS_LIST_ReleaseList(void* list);
// Appends a zero-filled block of size bytes and returns it for the caller to fill.
void* NPC_F_TOOLS_LIST_AddNode(void* list, int size);
// Appends a copy of data.
int NPC_F_TOOLS_LIST_AddData(void* list, const void* data, int len);
// Removes the node whose block this is.
int NPC_F_TOOLS_LIST_DelData(void* list, void* block);
// Copies the head block into the growable buffer (*buf, *cap; see runtime/mem_mg.h), sets
// *len and removes the head. 0 when the list is empty or the buffer cannot grow (the head
// then stays in the list).
int NPC_F_TOOLS_LIST_GetListHeadData(void* list, char** buf, int* cap, int* len);
// Read cursor held by the list: MoveFirst resets it, QueryNextNode returns the next block
// (and its length in *len when len is not null), null at the end. Deleting the block last
// returned keeps the cursor usable, and blocks appended after the end are still returned.
int NPC_F_TOOLS_LIST_MoveFirst(void* list);
void* NPC_F_TOOLS_LIST_QueryNextNode(void* list, int* len);
// Cursor held by the caller: *pos is the next node to visit and must still be in the list.
void* NPC_F_TOOLS_LIST_GetFirsNodetPos(void* list);
void* NPC_F_TOOLS_LIST_GetNextNodeData(void* list, void** pos, int* len);
int NPC_F_TOOLS_LIST_QueryNodeNum(void* list);
// Frees a buffer filled by NPC_F_TOOLS_LIST_GetListHeadData.
void NPC_F_TOOLS_LIST_ReleaseDataBuf(char** buf);

#endif
