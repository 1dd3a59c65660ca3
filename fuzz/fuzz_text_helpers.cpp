// Fuzz target for the text helpers that read texts from devices and servers: time texts,
// MAC and IPv4 texts, hexadecimal numbers and the JSON value replacement. Each parser gets
// the input as a NUL-terminated text in a block of exactly that size, so a read past the NUL
// is caught. The input also drives the replacements: "name\nvalue\ntext" splits into a
// key, a replacement and the text, and the last byte sets the spare room in the buffer.
// Results are checked for the properties callers rely on.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

#include "runtime/systime.h"

namespace {

std::vector<char> textOf(const uint8_t* data, size_t size) {
  std::vector<char> t(data, data + size);
  t.push_back('\0');
  return t;
}

void check(bool ok) {
  if (!ok) abort();
}

// Runs one in-place replacement and checks that it either keeps the text terminated within
// the buffer or, when it fails, leaves the buffer exactly as it was.
template <typename Fn>
void replaceChecked(const std::vector<char>& text, size_t spare, Fn fn) {
  size_t bufSize = strlen(text.data()) + 1 + spare;
  std::vector<char> buf(bufSize, 'Z');
  memcpy(buf.data(), text.data(), strlen(text.data()) + 1);
  std::vector<char> before = buf;
  int ok = fn(buf.data(), bufSize);
  if (ok)
    check(memchr(buf.data(), '\0', bufSize) != nullptr);
  else
    check(buf == before);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::vector<char> text = textOf(data, size);

  int64_t t = NPC_F_SYS_Str_To_Time(text.data());
  check(t == -1 || t <= 2147483647);
  NPC_S_TD_DATE_TIME td;
  if (NPC_F_SYS_StrTime_To_TdTime(text.data(), &td)) check(td.iMonth >= 1 && td.iMonth <= 12);

  uint8_t mac[6];
  int macOk = NPC_F_SYS_CheckMacStrAddr(text.data());
  check(NPC_F_SYS_GetBitMacAddr(text.data(), mac) == macOk);
  if (macOk) {
    char back[18];
    NPC_F_SYS_GetStringMacAddr(mac, back);
    check(strcasecmp(back, text.data()) == 0);
  }

  uint32_t ip = NPC_F_SYS_IpaddrStrToHostIpaddr(text.data());
  char ipText[16];
  NPC_F_SYS_GetIpaddrStrByHost(ip, ipText);
  check(NPC_F_SYS_IpaddrStrToHostIpaddr(ipText) == ip);

  (void)NPC_F_SYS_HexStrToDWORD(text.data());

  // "name\nvalue\ntext": split at the first two line feeds.
  const char* d = reinterpret_cast<const char*>(data);
  const char* nl1 = static_cast<const char*>(memchr(d, '\n', size));
  const char* nl2 = nl1 ? static_cast<const char*>(memchr(nl1 + 1, '\n', size - static_cast<size_t>(nl1 + 1 - d))) : nullptr;
  if (!nl2) return 0;
  std::vector<char> name(d, nl1), value(nl1 + 1, nl2), body(nl2 + 1, d + size);
  name.push_back('\0');
  value.push_back('\0');
  body.push_back('\0');
  size_t spare = size ? data[size - 1] % 64 : 0;
  replaceChecked(body, spare, [&](char* buf, size_t bufSize) {
    return NPC_F_SYS_ReplaceJsonValue(buf, bufSize, name.data(), value.data());
  });
  replaceChecked(body, spare, [&](char* buf, size_t bufSize) {
    return NPC_F_SYS_ReplaceStringEx(buf, bufSize, name.data(), value.data());
  });
  replaceChecked(body, spare, [&](char* buf, size_t bufSize) {
    int pos = size ? data[0] % 32 : 0, n = size > 1 ? data[1] % 32 : 0;
    return NPC_F_SYS_ReplaceString(buf, bufSize, pos, n, value.data());
  });
  return 0;
}
