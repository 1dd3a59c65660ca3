// The socket layer: thin helpers over BSD sockets that hide the address family (IPv4, or
// IPv6 after set_ai_family(AF_INET6)), non-blocking connects judged by SO_ERROR, chunked
// sends, error texts, name resolution and the tables of local interface addresses and
// hardware addresses. The socket event engine (net/netcom.h) is built on it, and other layers
// use it directly for their own blocking-style socket work.
//
// Every system call goes through the seam of net/syscall.h. Waits use poll(), so descriptors
// of any number work. Sends carry MSG_NOSIGNAL, and InitSocketLib ignores SIGPIPE as well.
//
// Send and receive helpers report a state and, where a buffer is given, an error text:
//   state  0  done (or, for a receive that returns 0 bytes, the peer closed)
//   state  1  no data yet ("no data.")
//   state -1  would block, partly sent or timed out ("time out")
//   state -2  hard error ("NPC_F_SYS_SOCKET_Recv peer reset.", "select error" or strerror)
#ifndef KORVEN_NET_SYS_SOCKET_H
#define KORVEN_NET_SYS_SOCKET_H

#include <cstdint>

// An IPv4 address text with its NUL fits 16 bytes; any address text fits 48.
constexpr int NPC_D_SYS_SOCKET_IPV4_TEXT_LEN = 16;
constexpr int NPC_D_SYS_SOCKET_ADDR_TEXT_LEN = 48;
// Largest piece of one send() or sendto() of the chunked senders.
constexpr int NPC_D_SYS_SOCKET_SEND_PIECE = 1460;

constexpr int NPC_D_SYS_SOCKET_STATE_DONE = 0;
constexpr int NPC_D_SYS_SOCKET_STATE_NODATA = 1;
constexpr int NPC_D_SYS_SOCKET_STATE_WOULDBLOCK = -1;
constexpr int NPC_D_SYS_SOCKET_STATE_ERROR = -2;

// One resolved address (32-byte text field; at most 15 characters of an IPv4 text used).
struct NPC_S_SYS_IPADDR {
  char sIpaddr[32];
};
static_assert(sizeof(NPC_S_SYS_IPADDR) == 32, "NPC_S_SYS_IPADDR is 32 bytes");

// The host's IPv4 interface addresses (without 127.0.0.1), at most 8.
constexpr int NPC_D_SYS_SOCKET_LOCAL_IPADDR_MAX = 8;
struct NPC_S_SYS_IPADDR_TABLE {
  int32_t iIpaddrNum;
  NPC_S_SYS_IPADDR tIpaddr[NPC_D_SYS_SOCKET_LOCAL_IPADDR_MAX];
};
static_assert(sizeof(NPC_S_SYS_IPADDR_TABLE) == 4 + 8 * 32, "NPC_S_SYS_IPADDR_TABLE layout");

// --- Process-wide settings ------------------------------------------------------------------

// Switches the address family of every later socket, bind, connect, send and receive of the
// layer (AF_INET, the default, or AF_INET6). Other values are ignored.
void set_ai_family(int family);
// The family in use.
int NPC_F_SYS_SOCKET_GetAiFamily();
// Stores an address text of up to 255 characters (initially "2001:2:0:1baa::"); kept for
// callers that set it, read by nothing in the library.
void set_ai_addr(const char* addr);
// Copies the stored text into buf (bounded, NUL-terminated).
void NPC_F_SYS_SOCKET_GetAiAddr(char* buf, int bufLen);

// Ignores SIGPIPE (sends also pass MSG_NOSIGNAL). Returns 1.
int NPC_F_SYS_SOCKET_InitSocketLib();
void NPC_F_SYS_SOCKET_UninitSocketLib();

// --- Descriptors ------------------------------------------------------------------------------

// A TCP socket (udpFlag 0) or a UDP socket in the current family; -1 on failure.
int NPC_F_SYS_SOCKET_Create(int udpFlag);
// Closes the descriptor (negative descriptors are ignored).
void NPC_F_SYS_SOCKET_Close(int sock);
// Sets SO_REUSEADDR and binds to addr (null or empty: the any-address) and port. 1 or 0.
int NPC_F_SYS_SOCKET_Bind(int sock, const char* addr, unsigned short port);
// As Bind, with SO_REUSEADDR only when reuseAddr is non-zero. UDP ports that must not be
// shared with another socket are bound without it.
int NPC_F_SYS_SOCKET_BindEx(int sock, const char* addr, unsigned short port, int reuseAddr);
// listen() with a backlog of 5. 1 or 0.
int NPC_F_SYS_SOCKET_Listen(int sock);
// Accepts one connection: its descriptor, or -1. The peer's address text (bounded by
// peerAddrLen, may be null) and port (may be null) are filled in.
int NPC_F_SYS_SOCKET_Accept(int sock, char* peerAddr, int peerAddrLen, unsigned short* peerPort);
// Blocking mode: non-zero blocking, 0 non-blocking. 1 or 0.
int NPC_F_SYS_SOCKET_SetBlockMode(int sock, int block);
int NPC_F_SYS_SOCKET_SetBroadcastParam(int sock, int on);
int NPC_F_SYS_SOCKET_SetSendBufSize(int sock, int bytes);
int NPC_F_SYS_SOCKET_SetRecvBufSize(int sock, int bytes);
// Address text and port of the local or the peer end. 1 or 0.
int NPC_F_SYS_SOCKET_GetSocketLocalAddr(int sock, char* addr, int addrLen, unsigned short* port);
int NPC_F_SYS_SOCKET_GetSocketPeerAddr(int sock, char* addr, int addrLen, unsigned short* port);

// --- Connects ---------------------------------------------------------------------------------

// Starts a connect to addr:port (an address text of the current family, or IPv4 text in IPv6
// mode). A connect in progress counts as started. With waitMs > 0 it then waits that long
// for the outcome: 1 only when the connection is established; a time-out, a refused or
// otherwise failed connect (judged by SO_ERROR) gives 0.
int NPC_F_SYS_SOCKET_Connect(int sock, const char* addr, unsigned short port, int waitMs);
// NPC_F_SYS_SOCKET_Connect without waiting.
int NPC_F_SYS_SOCKET_StartConnect(int sock, const char* addr, unsigned short port);
// Judges a started non-blocking connect, waiting up to waitMs for it to finish:
//   0 connected (or, with a wait of 0, nothing known against it yet),
//   1 still in progress when the wait ran out,
//   2 the connect failed (refused, unreachable, reset: SO_ERROR set) or poll failed.
int NPC_F_SYS_SOCKET_CheckConnectResult(int sock, int waitMs);
// The outcome of a non-blocking connect that poll() reported with revents (0 when not yet
// polled): 0 when the socket is connected, otherwise the error (the pending SO_ERROR, or
// ENOTCONN when the socket hung up without one). Reading SO_ERROR clears it, so each
// connect is judged once.
int NPC_F_SYS_SOCKET_GetConnectError(int sock, int revents);

// --- TCP send and receive ---------------------------------------------------------------------

// One recv of up to len bytes. Returns the bytes read (> 0, state 0), or 0 with state 0 when
// the peer closed, 1 when no data waits (EAGAIN, EINTR), -2 on an error (ECONNRESET gives
// "NPC_F_SYS_SOCKET_Recv peer reset."). errText (may be null) receives the text.
int NPC_F_SYS_SOCKET_Recv(int sock, char* buf, int len, int* state, char* errText, int errTextLen);
// One send. Returns 1 when all len bytes went; otherwise 0 with *sent the bytes that went and
// state -1 (would block or partly sent) or -2 (error).
int NPC_F_SYS_SOCKET_SendEx(int sock, const char* data, int len, int* sent, int* state,
                            char* errText, int errTextLen);
// Sends buf[0..*len) in pieces of at most 1460 bytes until the kernel refuses more; the
// unsent rest is moved to the front of buf and *len becomes its length. Returns 1 when all
// went (state 0), else 0 with state -1 (would block) or -2 (error).
int NPC_F_SYS_SOCKET_SendSpecDataBuf(int sock, char* buf, int* len, int* state, char* errText,
                                     int errTextLen);
// Sends data[0..len) in pieces of at most 1460 bytes until the kernel refuses more, leaving
// the buffer as it is. Returns the bytes sent; state 0 (all sent), -1 (would block) or -2.
int NPC_F_SYS_SOCKET_SendSpecData(int sock, const char* data, int len, int* state, char* errText,
                                  int errTextLen);
// As SendSpecDataBuf; returns the bytes sent (0 when the kernel took nothing), or -1 on a
// hard error.
int NPC_F_SYS_SOCKET_TcpSendData_SendSpecDataBuf(int sock, char* buf, int* len);
// Sends the whole buffer in 1460-byte pieces, waiting up to waitMs for writability before
// each piece. 1 when all went; 0 on time-out (state -1, "time out") or error (state -2).
int NPC_F_SYS_SOCKET_WaitSend(int sock, const char* data, int len, int waitMs, int* state,
                              char* errText, int errTextLen);
// Waits up to waitMs for readability, then NPC_F_SYS_SOCKET_Recv. A time-out returns 0 with
// state 2 ("time out"); a failed poll gives state -2 ("select error").
int NPC_F_SYS_SOCKET_WaitRecv(int sock, char* buf, int len, int waitMs, int* state,
                              char* errText, int errTextLen);

// --- UDP --------------------------------------------------------------------------------------

// Sends buf[0..*len) to addr:port as datagrams of at most 1460 bytes. A piece that would
// block stays: the unsent rest is moved to the front of buf and *len set to its length.
// Returns 1 when all went (state 0), else 0 with state -1 or -2.
int NPC_F_SYS_SOCKET_SendUdpSpecDataBuf(int sock, const char* addr, unsigned short port, char* buf,
                                        int* len, int* state, char* errText, int errTextLen);
// As SendUdpSpecDataBuf; with waitFlag set each piece first waits up to 6 ms for writability.
int NPC_F_SYS_SOCKET_SendUdpSpecDataBufEx(int sock, const char* addr, unsigned short port,
                                          char* buf, int* len, int waitFlag, int* state,
                                          char* errText, int errTextLen);
// Sends data[0..len) to addr:port as datagrams of at most 1460 bytes (each first waiting up
// to 6 ms for writability when waitFlag is set) until one would block, leaving the buffer as
// it is. Returns the bytes of the datagrams sent; state 0 (all sent), -1 (would block) or -2.
int NPC_F_SYS_SOCKET_SendUdpSpecData(int sock, const char* addr, unsigned short port,
                                     const char* data, int len, int waitFlag, int* state,
                                     char* errText, int errTextLen);
// As SendUdpSpecDataBuf; returns the bytes sent, or -1 on a hard error.
int NPC_F_SYS_SOCKET_UdpSendData_SendSpecDataBuf(int sock, const char* addr, unsigned short port,
                                                 char* buf, int* len);
// One datagram to addr:port: the bytes sent, or -1.
int NPC_F_SYS_SOCKET_SendTo(int sock, const char* addr, unsigned short port, const char* data,
                            int len);
// As SendTo after waiting up to waitMs for writability (-1 on time-out).
int NPC_F_SYS_SOCKET_SendTo_WaitSend(int sock, const char* addr, unsigned short port,
                                     const char* data, int len, int waitMs);
// One datagram into buf (cut at len): its length (>= 0), or -1 when none waits or on an
// error. The sender's address text (IPv4-mapped senders as dotted text) and port are filled.
int NPC_F_SYS_SOCKET_RecvFrom(int sock, char* buf, int len, char* peerAddr, int peerAddrLen,
                              unsigned short* peerPort);
// As RecvFrom after waiting up to waitMs for readability (-1 on time-out).
int NPC_F_SYS_SOCKET_RecvFrom_WaitRecv(int sock, char* buf, int len, char* peerAddr,
                                       int peerAddrLen, unsigned short* peerPort, int waitMs);
// A throw-away UDP socket with SO_BROADCAST and SO_REUSEADDR, bound to any port, sends one
// datagram to 255.255.255.255:port. 1 or 0.
int NPC_F_SYS_SOCKET_SendBroadcastMsg(unsigned short port, const char* data, int len);

// --- Address texts ----------------------------------------------------------------------------

// 1 when the text holds more than one colon.
int NPC_F_SYS_SOCKET_Ipv6(const char* addr);
// 1 when the text is IPv6 text or a valid address text of the current family.
int NPC_F_SYS_SOCKET_CheckIpaddr(const char* addr);
// Copies the text (bounded). 1 or 0.
int NPC_F_SYS_SOCKET_GetIPV6(const char* in, char* out, int outLen);
// The IPv4 address held in an IPv6 text: an IPv4-mapped text ("::ffff:192.168.1.1") gives its
// dotted part; otherwise the last two hexadecimal groups are read (last two digits of a group
// the lower octet, the digits before them the upper octet) and printed as "%d.%d.%d.%d".
// Other text is copied. Returns 1, or 0 (empty out) when the IPv6 text is malformed.
int NPC_F_SYS_SOCKET_GetIPV4(const char* in, char* out, int outLen);

// --- Resolution and local tables ----------------------------------------------------------------

// An address text is copied; a host name is resolved (IPv4, stream hints) and its first IPv4
// or IPv6 result copied. 1 or 0.
int NPC_F_SYS_SOCKET_GetNetIpAddr(const char* host, char* out, int outLen);
// As GetNetIpAddr with a result picked at random among all. 0 done, 2 resolver error, 4 no
// result.
int NPC_F_SYS_SOCKET_GetRandomNetIpAddr(const char* host, char* out, int outLen);
// All results as a newly allocated table (freed with NPC_F_SYS_SOCKET_ReleaseIpAddrTable) and
// their count. 0 done, 2 resolver error, 4 no result, 5 out of memory, 99 bad arguments; an
// address text yields a one-entry table.
int NPC_F_SYS_SOCKET_GetDomainIpAddrTable(const char* host, NPC_S_SYS_IPADDR** table, int* count);
void NPC_F_SYS_SOCKET_ReleaseIpAddrTable(NPC_S_SYS_IPADDR* table);
// The host's IPv4 interface addresses except 127.0.0.1, at most 8. 0 done, 2 no socket,
// 3 interface list not readable.
int NPC_F_SYS_SOCKET_QueryLocalIpaddrTable(NPC_S_SYS_IPADDR_TABLE* table);
// Hardware address of the interface holding the IPv4 address addr, as
// "%2.2X-%2.2X-%2.2X-%2.2X-%2.2X-%2.2X" into mac (at least 18 bytes). 0 done or not found
// (mac empty), 1 bad arguments, 2 no socket, 3 interface list not readable, 4 hardware
// address not readable.
int NPC_F_SYS_SOCKET_QueryAdpMacByIpaddr(const char* addr, char* mac, int macLen);

#endif
