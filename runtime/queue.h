// Bounded blocking queues of byte messages: the standard hand-over between threads.
//
// Producers add copies with a short time-out, one consumer drains. Items are copied in and
// out. A keep-at-most limit makes an add drop the oldest item instead of waiting. The read
// event is set while items are queued and the write event while there is room; both are
// manual-reset events of runtime/thread.h and can be used with wait objects.
#ifndef KORVEN_RUNTIME_QUEUE_H
#define KORVEN_RUNTIME_QUEUE_H

// Creates a queue of the given capacity (at least 1) into *handle; all parts or nothing.
// Returns 1, or 0 with *handle null.
int NPC_F_TOOLS_QUEUE_InitQueue(void** handle, int capacity);
// Frees the queue and every item still queued; sets *handle to null.
void NPC_F_TOOLS_QUEUE_FreeQueue(void** handle);

// Waits up to timeoutMs for a free slot, then appends a copy of data (len >= 0). 0 when the
// queue stays full or the arguments are invalid.
int NPC_F_TOOLS_QUEUE_SetData(void* queue, const void* data, int len, int timeoutMs);
// Waits up to timeoutMs for an item and copies it into buf of capacity *len, setting *len.
// When buf is too small the item is dropped and 0 is returned.
int NPC_F_TOOLS_QUEUE_GetData(void* queue, void* buf, int* len, int timeoutMs);
// As GetData, but reuses the caller's buffer (*buf of capacity *cap) when large enough, and
// otherwise frees it and allocates one of the item's length + 10; the caller releases it
// with NPC_F_TOOLS_QUEUE_FreeMemory.
int NPC_F_TOOLS_QUEUE_GetDataEx(void* queue, char** buf, int* len, int* cap, int timeoutMs);
void NPC_F_TOOLS_QUEUE_FreeMemory(char** buf);
// Drops the oldest item without waiting; 1 when one was dropped.
int NPC_F_TOOLS_QUEUE_MoveData(void* queue);
int NPC_F_TOOLS_QUEUE_GetCount(void* queue);
// Sum of the lengths of the queued items.
long long NPC_F_TOOLS_QUEUE_QueryQueueDataTotalLen(void* queue);
// Keep-at-most limit; negative values are ignored, 0 means none.
int NPC_F_TOOLS_QUEUE_SetMaxStoreDataNum(void* queue, int n);
void* NPC_F_TOOLS_QUEUE_GetReadEventHandle(void* queue);
void* NPC_F_TOOLS_QUEUE_GetWriteEventHandle(void* queue);

#endif
