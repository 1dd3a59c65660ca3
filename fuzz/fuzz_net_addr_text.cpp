// Fuzz target for the socket layer's address-text handling, which sees texts that servers and
// devices hand over: IPv6 detection, validation, the IPv4 rebuilt from an IPv6 text, and the
// one-entry table of an address text. The input is taken as one text (cut at its first NUL).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "net/sys_socket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.c_str();
  char out[NPC_D_SYS_SOCKET_ADDR_TEXT_LEN];
  char small[NPC_D_SYS_SOCKET_IPV4_TEXT_LEN];
  NPC_F_SYS_SOCKET_Ipv6(text.c_str());
  NPC_F_SYS_SOCKET_GetIPV4(text.c_str(), out, sizeof out);
  NPC_F_SYS_SOCKET_GetIPV4(text.c_str(), small, sizeof small);
  NPC_F_SYS_SOCKET_GetIPV6(text.c_str(), small, sizeof small);
  if (NPC_F_SYS_SOCKET_CheckIpaddr(text.c_str())) {
    // Address texts never reach the resolver, so this stays off the network.
    NPC_S_SYS_IPADDR* table = nullptr;
    int count = 0;
    if (NPC_F_SYS_SOCKET_GetDomainIpAddrTable(text.c_str(), &table, &count) == 0)
      NPC_F_SYS_SOCKET_ReleaseIpAddrTable(table);
  }
  return 0;
}
