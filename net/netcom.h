// The socket event engine: one owner's non-blocking sockets (TCP listeners, bound UDP ports,
// outgoing TCP connects and the connections they or the listeners produce) multiplexed over
// one poll() per pass. The owner acts only through the NPC_F_NETCOM_ operations and receives
// whatever happens on its sockets as socket events (NPC_S_NETCOM_DATA_HEAD plus data) through
// its callback, or through the engine's event queue when it gave none.
//
// Sending never blocks: every send is queued on its socket, in priority order, and written
// when the socket is writable. Each engine owns a wake-up descriptor: NPC_F_NETCOM_WakeUp,
// callable from any thread, makes a running or the next wait of the engine return at once,
// so an owner that queues work for the engine's thread need not wait out the socket wait.
//
// Modes. Thread-less (NPC_F_NETCOM_StartNetServerByNoThread): the owner's thread drives the
// engine by calling NPC_F_NETCOM_DoNetEvent and is the only thread that enters it (except for
// NPC_F_NETCOM_WakeUp). Thread mode (NPC_F_NETCOM_StartNetServer): the engine runs its own
// worker; one mutex guards the instance and callbacks run with it held.
//
// Port ids carry the slot index (below 1024) in their low 16 bits and a non-zero random tag
// above it; 0 is never a port id, and a stale id of a reused slot is refused.
#ifndef KORVEN_NET_NETCOM_H
#define KORVEN_NET_NETCOM_H

#include <cstddef>
#include <cstdint>

// Socket events.
constexpr int NPC_D_NETCOM_EVENT_CONNECT = 1;
constexpr int NPC_D_NETCOM_EVENT_DISCONNECT = 2;
constexpr int NPC_D_NETCOM_EVENT_DATA = 3;
constexpr int NPC_D_NETCOM_EVENT_CONNECT_RESULT = 4;
constexpr int NPC_D_NETCOM_EVENT_SEND_COMPLETE = 5;

constexpr unsigned short NPC_D_NETCOM_TRANS_TYPE_TCP = 0;
constexpr unsigned short NPC_D_NETCOM_TRANS_TYPE_UDP = 1;

// Socket types of the engine's records.
constexpr int NPC_D_NETCOM_SOCKET_TYPE_TCP_LISTEN = 0;
constexpr int NPC_D_NETCOM_SOCKET_TYPE_UDP_LISTEN = 1;
constexpr int NPC_D_NETCOM_SOCKET_TYPE_TCP_CONNECT = 2;
constexpr int NPC_D_NETCOM_SOCKET_TYPE_TCP_CLIENT = 3;

// Sizes and limits.
constexpr int NPC_D_NETCOM_MAX_SOCKET_NUM = 1024;
constexpr int NPC_D_NETCOM_RECV_BUF_SIZE = 8192;
constexpr int NPC_D_NETCOM_UDP_RECV_BUF_SIZE = 524288;
constexpr int NPC_D_NETCOM_DEFAULT_MAX_SEND_BUF_SIZE = 10485760;
// Cap of one TCP socket's queued bytes. A send that would pass it is refused (and the
// direct-connect layer then drops that logical connection), so it lies far above any backlog
// a healthy connection builds: 64 MiB.
constexpr uint32_t NPC_D_NETCOM_TCP_MAX_QUEUE_BYTES = 64u * 1024u * 1024u;
constexpr int NPC_D_NETCOM_EVENT_QUEUE_SIZE = 10000;

// A socket event, host byte order, followed in the same buffer by iDataLen bytes.
struct NPC_S_NETCOM_DATA_HEAD {
  int32_t iEventType;       // NPC_D_NETCOM_EVENT_...
  uint16_t usTransType;     // 0 TCP, 1 UDP (DATA and SEND_COMPLETE)
  uint16_t usLocalPort;     // CONNECT, DATA, SEND_COMPLETE
  uint32_t dwPortId;        // the socket the event concerns (CONNECT: the new connection)
  char szPeerIpaddr[40];    // peer address text, NUL-terminated
  uint16_t usPeerPort;
  uint32_t dwSerialNo;      // DATA: receive counter; SEND_COMPLETE: the send's tag
  int32_t iDataLen;
};
static_assert(sizeof(NPC_S_NETCOM_DATA_HEAD) == 64, "socket event head is 64 bytes");
static_assert(offsetof(NPC_S_NETCOM_DATA_HEAD, usTransType) == 4 &&
                  offsetof(NPC_S_NETCOM_DATA_HEAD, usLocalPort) == 6 &&
                  offsetof(NPC_S_NETCOM_DATA_HEAD, dwPortId) == 8 &&
                  offsetof(NPC_S_NETCOM_DATA_HEAD, szPeerIpaddr) == 12 &&
                  offsetof(NPC_S_NETCOM_DATA_HEAD, usPeerPort) == 52 &&
                  offsetof(NPC_S_NETCOM_DATA_HEAD, dwSerialNo) == 56 &&
                  offsetof(NPC_S_NETCOM_DATA_HEAD, iDataLen) == 60,
              "socket event head layout");

// The data of a CONNECT_RESULT event: 0 connected ("success"), 1 failed ("连接失败").
struct NPC_S_NETCOM_CONNECT_RESULT {
  int32_t iResult;
  char sResultInfo[256];
};
static_assert(sizeof(NPC_S_NETCOM_CONNECT_RESULT) == 260, "connect result is 260 bytes");

// Receives each event: the owner's user pointer, the event buffer (head plus data) and its
// total size (64 + iDataLen). It runs inside the wait pass on the thread that drives the
// engine; the buffer is reused as soon as it returns, so the callback copies what it keeps.
// It may call the engine's operations (send, close, add) but never DoNetEvent.
typedef void (*NPC_F_NETCOM_EVENT_CALLBACK)(void* user, const char* event, int eventLen);

struct NPC_S_NET_SELECT_MCSERVER_DATA;
typedef NPC_S_NET_SELECT_MCSERVER_DATA* NPC_H_NETCOM;

// --- Life cycle -------------------------------------------------------------------------------

// An engine with its own worker thread (the two leading integers are ignored). Null on failure.
NPC_H_NETCOM NPC_F_NETCOM_StartNetServer(int unused1, int unused2, NPC_F_NETCOM_EVENT_CALLBACK cb,
                                         void* user);
// An engine without a thread; the caller drives it with NPC_F_NETCOM_DoNetEvent. With a
// non-zero udpWaitFlag every piece of a queued UDP message first waits up to 6 ms for the
// socket to become writable. Without a callback, events go to the engine's event queue.
NPC_H_NETCOM NPC_F_NETCOM_StartNetServerByNoThread(NPC_F_NETCOM_EVENT_CALLBACK cb, void* user,
                                                   int udpWaitFlag);
// Stops the worker (waiting up to 5000 ms), closes every socket, frees everything.
void NPC_F_NETCOM_CloseNetServer(NPC_H_NETCOM inst);
// One wait pass of a thread-less engine: waits up to waitMs for socket activity or a wake-up
// and handles what is ready. Returns 1 (0 for a null instance or in thread mode, where it
// does nothing).
int NPC_F_NETCOM_DoNetEvent(NPC_H_NETCOM inst, int waitMs);
// Makes the engine's running wait, or its next one, return at once. Safe from any thread while
// the instance lives. Returns 1 (0 for a null instance).
int NPC_F_NETCOM_WakeUp(NPC_H_NETCOM inst);

// --- Settings ---------------------------------------------------------------------------------

// Cap of a UDP socket's queued bytes (default 10485760).
int NPC_F_NETCOM_SetMaxSendBufferSize(NPC_H_NETCOM inst, int bytes);
int NPC_F_NETCOM_GetMaxSendBufferSize(NPC_H_NETCOM inst);
// The send-complete notice is chosen per send: Set does nothing, Get returns 1.
int NPC_F_NETCOM_SetSendCompleteNotify(NPC_H_NETCOM inst, int flag);
int NPC_F_NETCOM_GetSendCompleteNotify(NPC_H_NETCOM inst);

// --- Sockets ----------------------------------------------------------------------------------

// A listening TCP socket on *port (0: the system chooses and the port is written back).
int NPC_F_NETCOM_StartTcpListen(NPC_H_NETCOM inst, unsigned short* port, uint32_t* portId);
// A bound UDP socket with a 512 KiB receive buffer on *port (0 as above). The port is not
// shared: a second socket on it, in this engine or elsewhere, is refused.
int NPC_F_NETCOM_StartUdpListen(NPC_H_NETCOM inst, unsigned short* port, uint32_t* portId);
int NPC_F_NETCOM_CloseTcpListen(NPC_H_NETCOM inst, unsigned short port);
int NPC_F_NETCOM_CloseUdpListen(NPC_H_NETCOM inst, unsigned short port);
int NPC_F_NETCOM_CloseTcpListenByPortId(NPC_H_NETCOM inst, uint32_t portId);
int NPC_F_NETCOM_CloseUdpListenByPortId(NPC_H_NETCOM inst, uint32_t portId);
// Starts a non-blocking connect; its outcome comes later as CONNECT_RESULT (exactly one:
// result 0 when connected, 1 when the connect failed).
int NPC_F_NETCOM_AddTcpConnect(NPC_H_NETCOM inst, const char* addr, unsigned short port,
                               uint32_t* portId);
// Closes a TCP connection or pending connect; 1 if the id was valid. No event follows.
int NPC_F_NETCOM_CloseTcpConnect(NPC_H_NETCOM inst, uint32_t portId);

// --- Sending ----------------------------------------------------------------------------------

// Queues a copy of the data on a connected TCP socket. Higher priorities go first, equal
// priorities keep their order, and nothing is put ahead of a partly written message. 0 when
// the id or type is wrong, memory runs out, or the socket's queue would pass
// NPC_D_NETCOM_TCP_MAX_QUEUE_BYTES.
int NPC_F_NETCOM_SendTcpDataEx(NPC_H_NETCOM inst, uint32_t portId, const char* data, int len,
                               int dataClass, int priority, uint32_t tag, int notify);
int NPC_F_NETCOM_SendTcpData(NPC_H_NETCOM inst, uint32_t portId, const char* data, int len,
                             int priority, uint32_t tag, int notify);
// Queues a copy of one message for addr:port on a UDP socket; it leaves as datagrams of at
// most 1460 bytes. At or above the UDP cap the message is dropped and 1 is still returned.
int NPC_F_NETCOM_SendUdpData(NPC_H_NETCOM inst, uint32_t portId, const char* addr,
                             unsigned short port, const char* data, int len, int priority,
                             uint32_t tag, int notify, int dataClass);

// --- Queue queries ----------------------------------------------------------------------------

// Queued messages of the socket (0 for an invalid id).
int NPC_F_NETCOM_QuerySendQueueSize(NPC_H_NETCOM inst, uint32_t portId);
int NPC_F_NETCOM_QuerySendQueueSizeEx(NPC_H_NETCOM inst, int dataClass, uint32_t portId);
// Sum of the total lengths of the queued messages of dataClass (-1: all).
long long NPC_F_NETCOM_StatSendQueueDataTotalLen(NPC_H_NETCOM inst, int dataClass, uint32_t portId);
// Drops every queued message except a partly written first one.
int NPC_F_NETCOM_ClearSendQueueData(NPC_H_NETCOM inst, uint32_t portId);

// --- Per-socket flags -------------------------------------------------------------------------

// Read flag: a socket whose flag is 0 is not read (flow control by the owner).
int NPC_F_NETCOM_SetRecvDataState(NPC_H_NETCOM inst, uint32_t portId, int flag);
int NPC_F_NETCOM_GetRecvDataState(NPC_H_NETCOM inst, uint32_t portId, int* flag);
// SO_BROADCAST on a UDP socket; 1 at once when the flag already is so.
int NPC_F_NETCOM_SetBroadcastFlag(NPC_H_NETCOM inst, uint32_t portId, int flag);
// The broadcast flag (0 for an invalid or non-UDP id); the pointer is ignored.
int NPC_F_NETCOM_GetBroadcastFlag(NPC_H_NETCOM inst, uint32_t portId, int* ignored);

// --- Queue mode (no callback) -----------------------------------------------------------------

// Takes the next event into buf (capacity len), waiting up to waitMs: its size, or 0.
int NPC_F_NETCOM_RecvData(NPC_H_NETCOM inst, char* buf, int len, int waitMs);
// Takes the next event into a new buffer (*buf, released with NPC_F_NETCOM_ReleaseDataBuf)
// and its size into *len: 1, or 0 when none came within waitMs.
int NPC_F_NETCOM_RecvDataEx(NPC_H_NETCOM inst, char** buf, int* len, int waitMs);
// The event queue's readable-event handle (runtime/thread.h event), or null.
void* NPC_F_NETCOM_GetRecvHandle(NPC_H_NETCOM inst);
void NPC_F_NETCOM_ReleaseDataBuf(char* buf);
// Events waiting: -1 for a null instance, -2 when the engine has no queue.
int NPC_F_NETCOM_QueryRecvQueueSize(NPC_H_NETCOM inst);

#endif
