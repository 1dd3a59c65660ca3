// Fuzz target for connect-parameter strings: parses arbitrary text with the parser and every
// family getter (with roomy and with tiny output buffers), then feeds what was read back into
// the setters, and checks that every text that comes out is NUL-terminated inside its buffer
// and that a built string reads back as it was built.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bus/vcp.h"

namespace {

void require(bool cond) {
  if (!cond) abort();
}

// Output text buffers with a canary byte behind the NUL the getter must write.
struct TextOut {
  char buf[129];
  size_t size;
  explicit TextOut(size_t n) : size(n) { memset(buf, 0x7E, sizeof buf); }
  void check() const {
    require(memchr(buf, '\0', size) != nullptr);
    require(buf[size] == 0x7E);
  }
};

void runGetters(const char* text, size_t size) {
  TextOut a(size), u(size), p(size), d(size);
  int v = 0, port = 0, ch = 0, st = 0, e1 = 0, e2 = 0, e3 = 0;
  if (NPC_F_MPI_MON_VCP_General_GetConnParamEx(text, &v, a.buf, a.size, &port, u.buf, u.size, p.buf, p.size, &ch, &st)) {
    a.check(); u.check(); p.check();
  }
  if (NPC_F_MPI_MON_VCP_P2PGeneral_GetConnParam(text, &v, d.buf, d.size, a.buf, a.size, &port, u.buf, u.size, p.buf,
                                                p.size, &ch, &st)) {
    d.check(); a.check(); u.check(); p.check();
  }
  if (NPC_F_MPI_MON_VCP_SHTL_GetConnParam(text, a.buf, a.size, &port, u.buf, u.size, p.buf, p.size, &ch, d.buf, d.size)) {
    a.check(); u.check(); p.check(); d.check();
    require(strlen(a.buf) <= 39 && strlen(u.buf) <= 63 && strlen(d.buf) <= 31);
  }
  if (NPC_F_MPI_MON_VCP_HDTP_GetConnParamEx(text, d.buf, d.size, u.buf, u.size, p.buf, p.size, &ch, &st)) {
    d.check(); u.check(); p.check();
  }
  if (NPC_F_MPI_MON_VCP_EPMY_GetConnParam(text, d.buf, d.size, &e1, a.buf, a.size, &port, &e2, &e3)) {
    d.check(); a.check();
    require(strlen(a.buf) <= 15);
  }
  NPC_F_MPI_MON_VCP_OWSP_GetConnParam(text, &v, &ch);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The text as a caller would hand it over: NUL-terminated, possibly longer than 1023.
  const std::string text(reinterpret_cast<const char*>(data), size > 4096 ? 4096 : size);

  auto set = std::make_unique<NPC_S_MPI_MON_VCP_PARAM_SET>();
  require(NPC_F_MPI_MON_VCP_ParseConnParam(text.c_str(), set.get()) == 1);
  require(set->iParamNum >= 0 && set->iParamNum <= NPC_D_MPI_MON_VCP_MAX_PARAM_NUM);
  for (int i = 0; i < set->iParamNum; ++i) {
    require(NPC_F_MPI_MON_VCP_GetParamName(set->tParam[i].iParamId) != nullptr);
    require(strlen(set->tParam[i].sValue) <= NPC_D_MPI_MON_VCP_VALUE_MAX_LEN);
    require(strchr(set->tParam[i].sValue, ',') == nullptr);
  }

  runGetters(text.c_str(), 128);
  runGetters(text.c_str(), 1);
  runGetters(text.c_str(), 5);

  // Whatever General read must build again, unless it breaks a builder rule, and the built
  // string must read back to the same values.
  char addr[512], user[512], pwd[512];
  int vendor = 0, port = 0, ch = 0, stream = 0;
  if (NPC_F_MPI_MON_VCP_General_GetConnParamEx(text.c_str(), &vendor, addr, sizeof addr, &port, user, sizeof user, pwd,
                                               sizeof pwd, &ch, &stream)) {
    char built[NPC_D_MPI_MON_VCP_CONN_PARAM_SIZE];
    if (NPC_F_MPI_MON_VCP_General_SetConnParamEx(built, sizeof built, vendor, addr, port, user, pwd, ch, stream)) {
      require(strlen(built) <= static_cast<size_t>(NPC_D_MPI_MON_VCP_BUILD_MAX_LEN));
      char addr2[512], user2[512], pwd2[512];
      int vendor2 = 0, port2 = 0, ch2 = 0, stream2 = 0;
      require(NPC_F_MPI_MON_VCP_General_GetConnParamEx(built, &vendor2, addr2, sizeof addr2, &port2, user2, sizeof user2,
                                                       pwd2, sizeof pwd2, &ch2, &stream2) == 1);
      require(vendor == vendor2 && port == port2 && ch == ch2 && stream == stream2);
      require(strcmp(addr, addr2) == 0 && strcmp(user, user2) == 0 && strcmp(pwd, pwd2) == 0);
    }
  }
  return 0;
}
