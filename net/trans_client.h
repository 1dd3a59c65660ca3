// The transaction client (NPC_F_SMP_COM_TRANS_): one TCP connection to a server that speaks
// service packets, with a worker thread of its own. Callers on any thread send requests and
// wait for their answers (matched by transaction id and sequence number, up to 512 at once),
// send requests nobody waits for, and add periodic timers; the worker reads and frames the
// stream, hands every packet that is not an awaited answer to the packet callback, answers
// heartbeats, sends its own every 30 s, drops a connection that stayed silent for 90 s, and
// reconnects. A one-shot call on a connection of its own is offered too.
//
// Callbacks (packet, state, timers) run on the worker thread with no lock of the client held.
// They may send (NPC_F_SMP_COM_TRANS_SendRequData, _SendPacketData) but must not make a waited
// call on the same client: the worker that would read its answer is the thread they run on.
// Waited calls and sends must have returned before NPC_F_SMP_COM_TRANS_StopClient is called.
#ifndef KORVEN_NET_TRANS_CLIENT_H
#define KORVEN_NET_TRANS_CLIENT_H

#include <cstdint>

struct NPC_S_SMP_COM_TRANS_WORK_DATA;

// Receives a packet from its service head (24-byte NPC_S_SMP_COM_PACKET_HEAD, then the body);
// len is the packet length without the 16-byte frame head. Read the head with
// NPC_F_SMP_COM_ReadPacketHead: the pointer need not be aligned. Valid only during the call.
typedef void (*NPC_F_SMP_COM_TRANS_PACKET_CALLBACK)(void* pUser, const uint8_t* pPacket, int iLen);
// Told 1 when the connection is up and 0 when it was lost (once per loss).
typedef void (*NPC_F_SMP_COM_TRANS_STATE_CALLBACK)(void* pUser, int iState);
// A periodic timer fired on the worker thread.
typedef void (*NPC_F_SMP_COM_TRANS_TIMER_CALLBACK)(uint32_t dwTimerId, void* pUser);

// Limits and rules of the client.
constexpr int NPC_D_SMP_COM_TRANS_MAX_WAIT = 512;                  // waited calls at once
constexpr int NPC_D_SMP_COM_TRANS_MAX_TIMER = 256;
constexpr int NPC_D_SMP_COM_TRANS_HEARTBEAT_MS = 30000;            // heartbeat interval
constexpr int NPC_D_SMP_COM_TRANS_SILENCE_MS = 90000;              // three silent intervals drop
constexpr int NPC_D_SMP_COM_TRANS_CONNECT_BUDGET_MS = 20000;       // the worker's connects
constexpr int NPC_D_SMP_COM_TRANS_START_BUDGET_MS = 15000;         // NPC_F_SMP_COM_TRANS_StartClient
constexpr int NPC_D_SMP_COM_TRANS_AUTO_RECONNECT_MS = 4000;        // one automatic try per 4 s
constexpr int NPC_D_SMP_COM_TRANS_MAX_PENDING_SEND = 4194303;      // unsent bytes before a drop
constexpr int NPC_D_SMP_COM_TRANS_READ_LEN = 4096;

// Connection states.
constexpr int NPC_D_SMP_COM_TRANS_STATE_NONE = 0;
constexpr int NPC_D_SMP_COM_TRANS_STATE_CONNECTING = 1;
constexpr int NPC_D_SMP_COM_TRANS_STATE_CONNECTED = 2;

// Results of NPC_F_SMP_COM_TRANS_CallRemoteProcess.
constexpr int NPC_D_SMP_COM_TRANS_CALL_OK = 0;
constexpr int NPC_D_SMP_COM_TRANS_CALL_NULL_CLIENT = -1;
constexpr int NPC_D_SMP_COM_TRANS_CALL_NOT_CONNECTED = -2;
constexpr int NPC_D_SMP_COM_TRANS_CALL_NO_SLOT = -3;
constexpr int NPC_D_SMP_COM_TRANS_CALL_SEND_FAIL = -4;
constexpr int NPC_D_SMP_COM_TRANS_CALL_TIMEOUT = -5;
constexpr int NPC_D_SMP_COM_TRANS_CALL_COPY_FAIL = -6;

// Results of NPC_F_SMP_COM_TRANS_DirectCallRemoteProcess.
constexpr int NPC_D_SMP_COM_TRANS_DIRECT_OK = 0;
constexpr int NPC_D_SMP_COM_TRANS_DIRECT_NO_SOCKET = 1;
constexpr int NPC_D_SMP_COM_TRANS_DIRECT_SETUP_FAIL = 2;
constexpr int NPC_D_SMP_COM_TRANS_DIRECT_NO_CONNECT = 3;
constexpr int NPC_D_SMP_COM_TRANS_DIRECT_SEND_FAIL = 4;
constexpr int NPC_D_SMP_COM_TRANS_DIRECT_NO_ANSWER = 5;
constexpr int NPC_D_SMP_COM_TRANS_DIRECT_SOCKET_LAYER = 9;

// Connects before it returns (4000 ms, then 6000 ms, 8000 ms ... on fresh sockets, within
// 15000 ms; a refused connect ends the attempt at once) and starts the worker. timeoutMs is
// ignored. Null when no connection was made. No state callback, no automatic reconnect.
NPC_S_SMP_COM_TRANS_WORK_DATA* NPC_F_SMP_COM_TRANS_StartClient(const char* addr, unsigned short port,
                                                               NPC_F_SMP_COM_TRANS_PACKET_CALLBACK packetCb,
                                                               void* packetUser, int timeoutMs);
// Starts the worker, which makes the first connect (20000 ms budget) in the background and
// tells the state callback its outcome. Null only when the client cannot be set up.
NPC_S_SMP_COM_TRANS_WORK_DATA* NPC_F_SMP_COM_TRANS_StartClientEx(const char* addr, unsigned short port,
                                                                 NPC_F_SMP_COM_TRANS_PACKET_CALLBACK packetCb,
                                                                 void* packetUser,
                                                                 NPC_F_SMP_COM_TRANS_STATE_CALLBACK stateCb,
                                                                 void* stateUser, int autoReconnect);
// Closes the connection, stops the worker and frees the client (null is ignored).
void NPC_F_SMP_COM_TRANS_StopClient(NPC_S_SMP_COM_TRANS_WORK_DATA* client);

// Stores a new server address (up to 127 characters) and port and drops the current connection.
int NPC_F_SMP_COM_TRANS_SetServerAddr(NPC_S_SMP_COM_TRANS_WORK_DATA* client, const char* addr, unsigned short port);
int NPC_F_SMP_COM_TRANS_SetStateNotifyCallback(NPC_S_SMP_COM_TRANS_WORK_DATA* client,
                                               NPC_F_SMP_COM_TRANS_STATE_CALLBACK cb, void* user);
int NPC_F_SMP_COM_TRANS_SetAutoReconnect(NPC_S_SMP_COM_TRANS_WORK_DATA* client, int flag);
// Asks the worker to drop and rebuild the connection / reads whether that request is pending.
int NPC_F_SMP_COM_TRANS_SetReConnect(NPC_S_SMP_COM_TRANS_WORK_DATA* client);
int NPC_F_SMP_COM_TRANS_GetReConnectFlag(NPC_S_SMP_COM_TRANS_WORK_DATA* client);
// 1 when a socket is open or the state is connected.
int NPC_F_SMP_COM_TRANS_CheckConnectState(NPC_S_SMP_COM_TRANS_WORK_DATA* client);

// Sends a request and waits up to timeoutMs (on the clock seam) for its answer. On 0 the
// answer's result is in *outResult and, when outAnswer is given, a new buffer with its body
// (NUL-terminated, released with NPC_F_SMP_COM_TRANS_ReleaseDataBuf) in *outAnswer, its size
// in *outAnswerBufSize and the body length in *outAnswerLen. Results: the CALL_ constants.
// A connection lost while the call waits ends the wait at once with -5.
int NPC_F_SMP_COM_TRANS_CallRemoteProcess(NPC_S_SMP_COM_TRANS_WORK_DATA* client, uint32_t funcId, const void* body,
                                          int len, int* outResult, char** outAnswer, int* outAnswerBufSize,
                                          int* outAnswerLen, int timeoutMs);
// Sends a request that nobody waits for (bit 31 of its transaction id clear) and waits up to
// timeoutMs for it to leave. 1 when it was sent or is still queued, 0 when the client is not
// connected, the send failed or the connection dropped before the request left.
int NPC_F_SMP_COM_TRANS_SendRequData(NPC_S_SMP_COM_TRANS_WORK_DATA* client, uint32_t funcId, const void* body, int len,
                                     uint32_t* outTransId, uint32_t* outSeqNo, int timeoutMs);
// Sends a packet given from its service head (len bytes, at least 24, body inside) behind a
// new frame head, with the same rule and results as NPC_F_SMP_COM_TRANS_SendRequData.
int NPC_F_SMP_COM_TRANS_SendPacketData(NPC_S_SMP_COM_TRANS_WORK_DATA* client, const void* packet, int len,
                                       int timeoutMs);
// Frees an answer buffer handed out by the calls (null is ignored).
void NPC_F_SMP_COM_TRANS_ReleaseDataBuf(char* buf);

// Adds (or, for a timer id already there, changes) a timer that fires every intervalSec seconds
// on the worker, first intervalSec after this call. 1, or 0 when all 256 places are taken.
int NPC_F_SMP_COM_TRANS_StartTimer(NPC_S_SMP_COM_TRANS_WORK_DATA* client, int intervalSec, uint32_t timerId,
                                   NPC_F_SMP_COM_TRANS_TIMER_CALLBACK cb, void* user);
// Removes the timer. Called from another thread, it returns only after a firing of the
// client's timers that is under way has finished, so the user pointer may then be freed.
int NPC_F_SMP_COM_TRANS_StopTimer(NPC_S_SMP_COM_TRANS_WORK_DATA* client, uint32_t timerId);

// One call on a connection of its own: connect (refused connects are retried until timeoutMs
// has passed), send the request with transaction id 0 and sequence number 0, answer heartbeats,
// and take the first packet with the same function id and key 0/0 as the answer. The socket is
// closed in every case. Results: the DIRECT_ constants.
int NPC_F_SMP_COM_TRANS_DirectCallRemoteProcess(const char* addr, unsigned short port, uint32_t funcId,
                                                const void* body, int len, int* outResult, char** outAnswer,
                                                int* outAnswerBufSize, int* outAnswerLen, int timeoutMs);

#endif
