// The log's two network outlets, built on the socket layer:
//
// - The log network service: a TCP listener (all local addresses, the given port) whose
//   clients, up to 100, receive every finished log line as raw text ending in "\r\n". A
//   client that has closed, fails, or cannot take a line within 2000 ms is dropped; the 101st
//   client is closed at once. Whatever clients send is read in small bounded probes and
//   discarded.
// - The log upload client: one outgoing TCP connection to a log server that the server login
//   asks for. Each new connection starts with a 68-byte hello (mark, name, identifier); then
//   the lines follow as raw text. A lost connection is retried at growing spacing
//   (2, 4, 6, 8, 10, 10, ... seconds of the wall clock seam).
//
// Both take lines from the log core through its line sinks (runtime/log.h), which only queue
// the line without waiting, so a slow network peer never delays a logging caller: full
// queues drop lines.
#ifndef KORVEN_NET_LOG_SERVICE_H
#define KORVEN_NET_LOG_SERVICE_H

#include <cstddef>
#include <cstdint>

// --- Log network service ----------------------------------------------------------------------

constexpr int NPC_D_LOG_SR_MAX_CLIENT_NUM = 100;
constexpr int NPC_D_LOG_SR_SERVICE_QUEUE_SIZE = 10000;

// Starts the service on port (0: the system chooses; see GetLogServicePort). 1 when running
// or started, 0 on failure.
int NPC_F_LOG_SR_StartLogService(unsigned short port);
// Stops the service and closes every client.
void NPC_F_LOG_SR_StopLogService();
// The port the service listens on, 0 when it is not running.
unsigned short NPC_F_LOG_SR_GetLogServicePort();
// Clients currently connected.
int NPC_F_LOG_SR_QueryLogClientNum();

// --- Log upload client ------------------------------------------------------------------------

constexpr uint32_t NPC_D_LOG_UPC_HELLO_MARK = 0xFF01EFFFu;
constexpr int NPC_D_LOG_UPC_QUEUE_SIZE = 200;

// The first bytes of every upload connection (little-endian mark).
struct NPC_S_LOG_UPCLIENT_HELLO {
  uint32_t dwMark;
  char sName[32];
  char sIdent[32];
};
static_assert(sizeof(NPC_S_LOG_UPCLIENT_HELLO) == 68, "upload hello is 68 bytes");
static_assert(offsetof(NPC_S_LOG_UPCLIENT_HELLO, sName) == 4 &&
                  offsetof(NPC_S_LOG_UPCLIENT_HELLO, sIdent) == 36,
              "upload hello layout");

struct NPC_S_LOG_UPCLIENT_WORKDATA;

// Starts an upload client (name and identifier cut to 31 bytes, server address to 15) with
// its thread. Null on failure.
NPC_S_LOG_UPCLIENT_WORKDATA* NPC_F_LOG_UPC_StartLogUpServer(const char* name, const char* ident,
                                                            const char* srvAddr,
                                                            unsigned short srvPort);
// Stops the thread (waiting up to 5000 ms) and frees the client.
void NPC_F_LOG_UPC_StopLogUpServer(NPC_S_LOG_UPCLIENT_WORKDATA* client);
// Queues a line without waiting; 0 when the queue (200 lines) is full.
int NPC_F_LOG_UPC_SendLogData(NPC_S_LOG_UPCLIENT_WORKDATA* client, const char* line, int len);
// The client's thread (started by StartLogUpServer).
void NPC_F_LOG_UPC_ThreadWork(void* client);
// The connect step: 1 when a connection is open (made now or before), 0 otherwise.
int NPC_F_LOG_UPC_ConnectServer(NPC_S_LOG_UPCLIENT_WORKDATA* client);
// Sends the next queued line (waiting up to 500 ms for one). 1 when a line went out.
int NPC_F_LOG_UPC_DoLogQueueEvent(NPC_S_LOG_UPCLIENT_WORKDATA* client);

// Replaces the process's upload client (stopping a running one) and routes the log's lines to
// it. 1 on success.
int NPC_F_LOG_SR_StartLogUpClient(const char* name, const char* ident, const char* srvAddr,
                                  unsigned short srvPort);
void NPC_F_LOG_SR_StopLogUpClient();

#endif
