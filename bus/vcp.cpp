// Connect-parameter strings: the name table, the parser, the lookups, the bounded builder and
// the family setters and getters built on them.
//
// Every family is a short list of fields (slot, text or number, required or optional, limit);
// one setter routine and one getter routine walk such a list, so the rules (no commas, value
// and family limits, the 32-characters-free rule, required pairs) hold alike for every family.
#include "bus/vcp.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "runtime/text.h"

const char NPC_D_MPI_MON_VCP_NAME_TABLE[NPC_D_MPI_MON_VCP_NAME_SLOT_NUM][NPC_D_MPI_MON_VCP_NAME_SLOT_SIZE] = {
    "VendorId", "DevIp",   "DevPort", "DevUserName", "DevUserPwd", "DevChNo",   "DevId",     "DevStreamNo",
    "RtspUrl",  "SipUrl",  "HttpUrl", "ExtParam1",   "ExtParam2",  "ExtParam3", "ExtParam4",
};

namespace {

// Vendor ids the fixed-vendor families write.
constexpr int kVendorHKSP = 1005;
constexpr int kVendorCDSB = 2080;
constexpr int kVendorFCAM = 1006;
constexpr int kVendorHMCP = 1006;
constexpr int kVendorOWSP = 1004;
constexpr int kVendorHDTP = 1008;
constexpr int kVendorSHTL = 2110;
constexpr int kVendorHKPU = 2011;
constexpr int kVendorEPMY = 1010;
constexpr int kVendorSZLC = 2120;

// Family text limits, in characters.
constexpr size_t kAddr39 = 39;
constexpr size_t kCred63 = 63;
constexpr size_t kText31 = 31;
constexpr size_t kAddr15 = 15;
constexpr size_t kNoLimit = 0;

// One argument of a setter: a text (null only where nullIsEmpty allows it) or a number.
struct SetField {
  int id;
  bool isText;
  const char* text;
  int value;
  size_t limit;     // family limit in characters, 0 for none beyond the value limit
  bool nullIsEmpty;  // a null text stands for an empty one (an absent address)
};

SetField textArg(int id, const char* t, size_t limit = kNoLimit) { return {id, true, t, 0, limit, false}; }
SetField addrArg(int id, const char* t, size_t limit) { return {id, true, t, 0, limit, true}; }
SetField numberArg(int id, int v) { return {id, false, nullptr, v, 0, false}; }

// Builds a string from fields and hands it out whole, or refuses and writes nothing.
int buildInto(char* out, size_t outSize, std::initializer_list<SetField> fields) {
  if (!out || outSize == 0) return 0;
  NPC_S_MPI_MON_VCP_BUILDER b;
  NPC_F_MPI_MON_VCP_InitBuilder(&b);
  for (const SetField& f : fields) {
    if (f.isText) {
      const char* t = f.text;
      if (!t && f.nullIsEmpty) t = "";
      if (t && f.limit != kNoLimit && strnlen(t, f.limit + 1) > f.limit) return 0;
      if (!NPC_F_MPI_MON_VCP_AddParamText(&b, f.id, t)) return 0;
    } else if (!NPC_F_MPI_MON_VCP_AddParamInt(&b, f.id, f.value)) {
      return 0;
    }
  }
  return NPC_F_MPI_MON_VCP_CopyOut(&b, out, outSize);
}

// One output of a getter.
struct GetField {
  int id;
  bool required;
  char* text;           // text output (with textSize), or null
  size_t textSize;
  size_t limit;         // family limit in characters, 0 for none
  int* value;           // number output, or null
  const char* defText;  // value of a missing optional text
  int defValue;         // value of a missing optional number
};

GetField reqText(int id, char* t, size_t size, size_t limit = kNoLimit) {
  return {id, true, t, size, limit, nullptr, "", 0};
}
GetField optText(int id, char* t, size_t size, const char* def, size_t limit = kNoLimit) {
  return {id, false, t, size, limit, nullptr, def, 0};
}
GetField reqNumber(int id, int* v) { return {id, true, nullptr, 0, 0, v, "", 0}; }
GetField optNumber(int id, int* v, int def) { return {id, false, nullptr, 0, 0, v, "", def}; }

// Walks the pairs of a string (its first 1023 characters at most) and calls take(id, value,
// valueLen) for each pair the parser keeps, at most 50. A piece runs to the next comma or the
// end; its name runs to its first "=" (a piece without one is skipped by itself); a pair is
// skipped when its name is unknown or longer than 63 characters or its value has 512
// characters or more.
template <typename Take>
void scanPairs(const char* connParam, Take take) {
  const size_t len = strnlen(connParam, NPC_D_MPI_MON_VCP_CONN_PARAM_SIZE - 1);
  size_t pos = 0;
  int kept = 0;
  while (pos < len && kept < NPC_D_MPI_MON_VCP_MAX_PARAM_NUM) {
    const char* piece = connParam + pos;
    const char* comma = static_cast<const char*>(memchr(piece, ',', len - pos));
    const size_t pieceLen = comma ? static_cast<size_t>(comma - piece) : len - pos;
    pos += pieceLen + 1;
    const char* eq = static_cast<const char*>(memchr(piece, '=', pieceLen));
    if (!eq) continue;
    const size_t nameLen = static_cast<size_t>(eq - piece);
    const size_t valueLen = pieceLen - nameLen - 1;
    if (nameLen > NPC_D_MPI_MON_VCP_NAME_MAX_LEN || valueLen > NPC_D_MPI_MON_VCP_VALUE_MAX_LEN) continue;
    const int id = NPC_F_MPI_MON_VCP_GetParamIdByNameN(piece, nameLen);
    if (id < 0) continue;
    take(id, eq + 1, valueLen);
    ++kept;
  }
}

// atoi's reading of a value (leading blanks, a sign, digits up to the first other
// character, 0 when there are none), saturating at the int range where atoi is undefined.
int readDecimal(const char* p, size_t len) {
  const char* end = p + len;
  while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  long long v = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + (*p - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  return static_cast<int>(v);
}

// Where a kept pair's value stands in the string.
struct PairRef {
  int id;
  const char* value;
  size_t len;
};

// Parses connParam and fills the outputs when every required field is present; otherwise
// leaves them all untouched and returns 0. Texts are cut to the caller's buffer and to the
// family limit; a missing optional field gets its default.
int readFrom(const char* connParam, std::initializer_list<GetField> fields) {
  if (!connParam) return 0;
  PairRef pairs[NPC_D_MPI_MON_VCP_MAX_PARAM_NUM];
  int count = 0;
  scanPairs(connParam, [&](int id, const char* value, size_t len) { pairs[count++] = {id, value, len}; });
  auto first = [&](int id) -> const PairRef* {
    for (int i = 0; i < count; ++i) {
      if (pairs[i].id == id) return &pairs[i];
    }
    return nullptr;
  };
  for (const GetField& f : fields) {
    if (f.required && !first(f.id)) return 0;
  }
  for (const GetField& f : fields) {
    const PairRef* p = first(f.id);
    if (f.value) {
      *f.value = p ? readDecimal(p->value, p->len) : f.defValue;
    } else if (f.text && f.textSize > 0) {
      size_t size = f.textSize;
      if (f.limit != kNoLimit && size > f.limit + 1) size = f.limit + 1;
      if (p) {
        NPC_F_TEXT_CopyRaw(f.text, size, p->value, p->len);
      } else {
        NPC_F_TEXT_CopyRaw(f.text, size, f.defText, strlen(f.defText));
      }
    }
  }
  return 1;
}

// The first pair of a slot, or null.
const NPC_S_MPI_MON_VCP_PARAM_ITEM* findParam(const NPC_S_MPI_MON_VCP_PARAM_SET* set, int paramId) {
  if (!set) return nullptr;
  const int num = set->iParamNum < NPC_D_MPI_MON_VCP_MAX_PARAM_NUM ? set->iParamNum : NPC_D_MPI_MON_VCP_MAX_PARAM_NUM;
  for (int i = 0; i < num; ++i) {
    if (set->tParam[i].iParamId == paramId) return &set->tParam[i];
  }
  return nullptr;
}

// Appends raw bytes to the builder when the result leaves at least 32 characters free.
bool appendPair(NPC_S_MPI_MON_VCP_BUILDER* b, const char* name, const char* value, size_t valueLen) {
  const size_t nameLen = strlen(name);
  const size_t sep = b->iLen > 0 ? 1 : 0;
  const size_t newLen = static_cast<size_t>(b->iLen) + sep + nameLen + 1 + valueLen;
  if (newLen > static_cast<size_t>(NPC_D_MPI_MON_VCP_BUILD_MAX_LEN)) return false;
  char* p = b->sText + b->iLen;
  if (sep) *p++ = ',';
  memcpy(p, name, nameLen);
  p += nameLen;
  *p++ = '=';
  memcpy(p, value, valueLen);
  p += valueLen;
  *p = '\0';
  b->iLen = static_cast<int>(newLen);
  return true;
}

}  // namespace

const char* NPC_F_MPI_MON_VCP_GetParamName(int paramId) {
  if (paramId < 0 || paramId >= NPC_D_MPI_MON_VCP_NAME_SLOT_NUM) return nullptr;
  const char* name = NPC_D_MPI_MON_VCP_NAME_TABLE[paramId];
  return name[0] ? name : nullptr;
}

int NPC_F_MPI_MON_VCP_GetParamIdByNameN(const char* name, size_t len) {
  if (!name || len == 0 || len >= NPC_D_MPI_MON_VCP_NAME_SLOT_SIZE) return -1;
  for (int i = 0; i < NPC_D_MPI_MON_VCP_NAME_SLOT_NUM; ++i) {
    const char* slot = NPC_D_MPI_MON_VCP_NAME_TABLE[i];
    if (slot[0] && strlen(slot) == len && memcmp(slot, name, len) == 0) return i;
  }
  return -1;
}

int NPC_F_MPI_MON_VCP_GetParamIdByName(const char* name) {
  if (!name) return -1;
  return NPC_F_MPI_MON_VCP_GetParamIdByNameN(name, strnlen(name, NPC_D_MPI_MON_VCP_NAME_SLOT_SIZE));
}

int NPC_F_MPI_MON_VCP_ParseConnParam(const char* connParam, NPC_S_MPI_MON_VCP_PARAM_SET* set) {
  if (!connParam || !set) return 0;
  set->iParamNum = 0;
  scanPairs(connParam, [set](int id, const char* value, size_t len) {
    NPC_S_MPI_MON_VCP_PARAM_ITEM& item = set->tParam[set->iParamNum++];
    item.iParamId = id;
    memcpy(item.sValue, value, len);
    item.sValue[len] = '\0';
  });
  return 1;
}

int NPC_F_MPI_MON_VCP_HasParam(const NPC_S_MPI_MON_VCP_PARAM_SET* set, int paramId) {
  return findParam(set, paramId) ? 1 : 0;
}

int NPC_F_MPI_MON_VCP_GetParamText(const NPC_S_MPI_MON_VCP_PARAM_SET* set, int paramId, char* buf, size_t bufSize) {
  const NPC_S_MPI_MON_VCP_PARAM_ITEM* item = findParam(set, paramId);
  if (!item) return 0;
  if (buf && bufSize > 0) NPC_F_TEXT_CopyRaw(buf, bufSize, item->sValue, sizeof item->sValue);
  return 1;
}

int NPC_F_MPI_MON_VCP_GetParamInt(const NPC_S_MPI_MON_VCP_PARAM_SET* set, int paramId, int* value) {
  const NPC_S_MPI_MON_VCP_PARAM_ITEM* item = findParam(set, paramId);
  if (!item) return 0;
  if (value) *value = readDecimal(item->sValue, strnlen(item->sValue, sizeof item->sValue));
  return 1;
}

void NPC_F_MPI_MON_VCP_InitBuilder(NPC_S_MPI_MON_VCP_BUILDER* b) {
  if (!b) return;
  b->sText[0] = '\0';
  b->iLen = 0;
  b->bOk = true;
}

int NPC_F_MPI_MON_VCP_AddParamText(NPC_S_MPI_MON_VCP_BUILDER* b, int paramId, const char* text) {
  if (!b) return 0;
  const char* name = NPC_F_MPI_MON_VCP_GetParamName(paramId);
  if (!b->bOk || !name || !text) {
    b->bOk = false;
    return 0;
  }
  // A value longer than the parser keeps, or one holding the separator, would not read back.
  const size_t len = strnlen(text, NPC_D_MPI_MON_VCP_VALUE_MAX_LEN + 1);
  if (len > NPC_D_MPI_MON_VCP_VALUE_MAX_LEN || memchr(text, ',', len) || !appendPair(b, name, text, len)) {
    b->bOk = false;
    return 0;
  }
  return 1;
}

int NPC_F_MPI_MON_VCP_AddParamInt(NPC_S_MPI_MON_VCP_BUILDER* b, int paramId, int value) {
  char digits[16];
  snprintf(digits, sizeof digits, "%d", value);
  return NPC_F_MPI_MON_VCP_AddParamText(b, paramId, digits);
}

int NPC_F_MPI_MON_VCP_CopyOut(const NPC_S_MPI_MON_VCP_BUILDER* b, char* out, size_t outSize) {
  if (!b || !b->bOk || !out || static_cast<size_t>(b->iLen) + 1 > outSize) return 0;
  memcpy(out, b->sText, static_cast<size_t>(b->iLen) + 1);
  return 1;
}

// ---- Families ----

int NPC_F_MPI_MON_VCP_General_SetConnParam(char* connParam, size_t connParamSize, int vendorId, const char* addr,
                                           int port, const char* user, const char* pwd, int chNo) {
  return buildInto(connParam, connParamSize,
                   {numberArg(NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, vendorId), textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_IP, addr),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_PORT, port), textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_NAME, user),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, pwd), numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo)});
}

int NPC_F_MPI_MON_VCP_General_GetConnParam(const char* connParam, int* vendorId, char* addr, size_t addrSize,
                                           int* port, char* user, size_t userSize, char* pwd, size_t pwdSize,
                                           int* chNo) {
  return readFrom(connParam, {reqNumber(NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, vendorId),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_IP, addr, addrSize),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_PORT, port),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_NAME, user, userSize),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, pwd, pwdSize),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo)});
}

int NPC_F_MPI_MON_VCP_General_SetConnParamEx(char* connParam, size_t connParamSize, int vendorId, const char* addr,
                                             int port, const char* user, const char* pwd, int chNo, int streamNo) {
  return buildInto(connParam, connParamSize,
                   {numberArg(NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, vendorId), textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_IP, addr),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_PORT, port), textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_NAME, user),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, pwd), numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_STREAM_NO, streamNo)});
}

int NPC_F_MPI_MON_VCP_General_GetConnParamEx(const char* connParam, int* vendorId, char* addr, size_t addrSize,
                                             int* port, char* user, size_t userSize, char* pwd, size_t pwdSize,
                                             int* chNo, int* streamNo) {
  return readFrom(connParam, {reqNumber(NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, vendorId),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_IP, addr, addrSize),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_PORT, port),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_NAME, user, userSize),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, pwd, pwdSize),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo),
                              optNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_STREAM_NO, streamNo, 0)});
}

int NPC_F_MPI_MON_VCP_P2PGeneral_SetConnParam(char* connParam, size_t connParamSize, int vendorId, const char* devId,
                                              const char* addr, int port, const char* user, const char* pwd,
                                              int chNo, int streamNo) {
  return buildInto(connParam, connParamSize,
                   {numberArg(NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, vendorId), textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devId),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_IP, addr), numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_PORT, port),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_NAME, user), textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, pwd),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_STREAM_NO, streamNo)});
}

int NPC_F_MPI_MON_VCP_P2PGeneral_GetConnParam(const char* connParam, int* vendorId, char* devId, size_t devIdSize,
                                              char* addr, size_t addrSize, int* port, char* user, size_t userSize,
                                              char* pwd, size_t pwdSize, int* chNo, int* streamNo) {
  return readFrom(connParam, {reqNumber(NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, vendorId),
                              optText(NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devId, devIdSize, ""),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_IP, addr, addrSize),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_PORT, port),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_NAME, user, userSize),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, pwd, pwdSize),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo),
                              optNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_STREAM_NO, streamNo, 0)});
}

namespace {

// HKSP, CDSB and HMCP share one layout and differ in vendor id and limits.
int setAddrFamily(char* connParam, size_t connParamSize, int vendorId, size_t addrLimit, size_t credLimit,
                  const char* addr, int port, const char* user, const char* pwd, int chNo) {
  return buildInto(connParam, connParamSize,
                   {numberArg(NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, vendorId),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_IP, addr, addrLimit), numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_PORT, port),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_NAME, user, credLimit),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, pwd, credLimit),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo)});
}

int getAddrFamily(const char* connParam, size_t addrLimit, size_t credLimit, char* addr, size_t addrSize, int* port,
                  char* user, size_t userSize, char* pwd, size_t pwdSize, int* chNo) {
  return readFrom(connParam, {reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_IP, addr, addrSize, addrLimit),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_PORT, port),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_NAME, user, userSize, credLimit),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, pwd, pwdSize, credLimit),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo)});
}

// HKPU and SZLC: a device id and a channel.
int setIdFamily(char* connParam, size_t connParamSize, int vendorId, const char* devId, int chNo) {
  return buildInto(connParam, connParamSize,
                   {numberArg(NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, vendorId), textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devId),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo)});
}

int getIdFamily(const char* connParam, char* devId, size_t devIdSize, int* chNo) {
  return readFrom(connParam, {reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devId, devIdSize),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo)});
}

}  // namespace

int NPC_F_MPI_MON_VCP_HKSP_SetConnParam(char* connParam, size_t connParamSize, const char* addr, int port,
                                        const char* user, const char* pwd, int chNo) {
  return setAddrFamily(connParam, connParamSize, kVendorHKSP, kNoLimit, kNoLimit, addr, port, user, pwd, chNo);
}

int NPC_F_MPI_MON_VCP_HKSP_GetConnParam(const char* connParam, char* addr, size_t addrSize, int* port, char* user,
                                        size_t userSize, char* pwd, size_t pwdSize, int* chNo) {
  return getAddrFamily(connParam, kNoLimit, kNoLimit, addr, addrSize, port, user, userSize, pwd, pwdSize, chNo);
}

int NPC_F_MPI_MON_VCP_CDSB_SetConnParam(char* connParam, size_t connParamSize, const char* addr, int port,
                                        const char* user, const char* pwd, int chNo) {
  return setAddrFamily(connParam, connParamSize, kVendorCDSB, kAddr39, kCred63, addr, port, user, pwd, chNo);
}

int NPC_F_MPI_MON_VCP_CDSB_GetConnParam(const char* connParam, char* addr, size_t addrSize, int* port, char* user,
                                        size_t userSize, char* pwd, size_t pwdSize, int* chNo) {
  return getAddrFamily(connParam, kAddr39, kCred63, addr, addrSize, port, user, userSize, pwd, pwdSize, chNo);
}

int NPC_F_MPI_MON_VCP_FCAM_SetConnParam(char* connParam, size_t connParamSize, const char* addr, int chNo) {
  return buildInto(connParam, connParamSize,
                   {numberArg(NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, kVendorFCAM),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_IP, addr, kAddr39),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo)});
}

int NPC_F_MPI_MON_VCP_FCAM_GetConnParam(const char* connParam, char* addr, size_t addrSize, int* chNo) {
  return readFrom(connParam, {reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_IP, addr, addrSize, kAddr39),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo)});
}

int NPC_F_MPI_MON_VCP_HMCP_SetConnParam(char* connParam, size_t connParamSize, const char* addr, int port,
                                        const char* user, const char* pwd, int chNo) {
  return setAddrFamily(connParam, connParamSize, kVendorHMCP, kAddr39, kCred63, addr, port, user, pwd, chNo);
}

int NPC_F_MPI_MON_VCP_HMCP_GetConnParam(const char* connParam, char* addr, size_t addrSize, int* port, char* user,
                                        size_t userSize, char* pwd, size_t pwdSize, int* chNo) {
  return getAddrFamily(connParam, kAddr39, kCred63, addr, addrSize, port, user, userSize, pwd, pwdSize, chNo);
}

int NPC_F_MPI_MON_VCP_OWSP_SetConnParam(char* connParam, size_t connParamSize, int devNo, int chNo) {
  return buildInto(connParam, connParamSize,
                   {numberArg(NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, kVendorOWSP), numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devNo),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo)});
}

int NPC_F_MPI_MON_VCP_OWSP_GetConnParam(const char* connParam, int* devNo, int* chNo) {
  return readFrom(connParam, {reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devNo),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo)});
}

int NPC_F_MPI_MON_VCP_HDTP_SetConnParam(char* connParam, size_t connParamSize, const char* devId, const char* pwd,
                                        int chNo) {
  return buildInto(connParam, connParamSize,
                   {numberArg(NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, kVendorHDTP),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devId, kText31),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, pwd, kText31),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo)});
}

int NPC_F_MPI_MON_VCP_HDTP_GetConnParam(const char* connParam, char* devId, size_t devIdSize, char* pwd,
                                        size_t pwdSize, int* chNo) {
  return readFrom(connParam, {reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devId, devIdSize, kText31),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, pwd, pwdSize, kText31),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo)});
}

int NPC_F_MPI_MON_VCP_HDTP_SetConnParamEx(char* connParam, size_t connParamSize, const char* devId,
                                          const char* user, const char* pwd, int chNo, int streamNo) {
  return buildInto(connParam, connParamSize,
                   {numberArg(NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, kVendorHDTP), textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devId),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_NAME, user), textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, pwd),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_STREAM_NO, streamNo)});
}

int NPC_F_MPI_MON_VCP_HDTP_GetConnParamEx(const char* connParam, char* devId, size_t devIdSize, char* user,
                                          size_t userSize, char* pwd, size_t pwdSize, int* chNo, int* streamNo) {
  return readFrom(connParam, {reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devId, devIdSize),
                              optText(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_NAME, user, userSize, "admin"),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, pwd, pwdSize),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo),
                              optNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_STREAM_NO, streamNo, 0)});
}

int NPC_F_MPI_MON_VCP_SHTL_SetConnParam(char* connParam, size_t connParamSize, const char* addr, int port,
                                        const char* user, const char* pwd, int chNo, const char* devId) {
  return buildInto(connParam, connParamSize,
                   {numberArg(NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, kVendorSHTL),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_IP, addr, kAddr39), numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_PORT, port),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_NAME, user, kCred63),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, pwd, kCred63),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo),
                    textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devId, kText31)});
}

int NPC_F_MPI_MON_VCP_SHTL_GetConnParam(const char* connParam, char* addr, size_t addrSize, int* port, char* user,
                                        size_t userSize, char* pwd, size_t pwdSize, int* chNo, char* devId,
                                        size_t devIdSize) {
  return readFrom(connParam, {reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_IP, addr, addrSize, kAddr39),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_PORT, port),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_NAME, user, userSize, kCred63),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, pwd, pwdSize, kCred63),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, chNo),
                              reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devId, devIdSize, kText31)});
}

int NPC_F_MPI_MON_VCP_HKPU_SetConnParam(char* connParam, size_t connParamSize, const char* devId, int chNo) {
  return setIdFamily(connParam, connParamSize, kVendorHKPU, devId, chNo);
}

int NPC_F_MPI_MON_VCP_HKPU_GetConnParam(const char* connParam, char* devId, size_t devIdSize, int* chNo) {
  return getIdFamily(connParam, devId, devIdSize, chNo);
}

int NPC_F_MPI_MON_VCP_EPMY_SetConnParam(char* connParam, size_t connParamSize, const char* devId, int ext1,
                                        const char* addr, int port, int ext2, int ext3) {
  return buildInto(connParam, connParamSize,
                   {numberArg(NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, kVendorEPMY), textArg(NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devId),
                    addrArg(NPC_D_MPI_MON_VCP_PARAM_DEV_IP, addr, kAddr15),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_DEV_PORT, port), numberArg(NPC_D_MPI_MON_VCP_PARAM_EXT_PARAM1, ext1),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_EXT_PARAM2, ext2),
                    numberArg(NPC_D_MPI_MON_VCP_PARAM_EXT_PARAM3, ext3)});
}

int NPC_F_MPI_MON_VCP_EPMY_GetConnParam(const char* connParam, char* devId, size_t devIdSize, int* ext1, char* addr,
                                        size_t addrSize, int* port, int* ext2, int* ext3) {
  return readFrom(connParam, {reqText(NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devId, devIdSize),
                              optText(NPC_D_MPI_MON_VCP_PARAM_DEV_IP, addr, addrSize, "", kAddr15),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_DEV_PORT, port),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_EXT_PARAM1, ext1),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_EXT_PARAM2, ext2),
                              reqNumber(NPC_D_MPI_MON_VCP_PARAM_EXT_PARAM3, ext3)});
}

int NPC_F_MPI_MON_VCP_SZLC_SetConnParam(char* connParam, size_t connParamSize, const char* devId, int chNo) {
  return setIdFamily(connParam, connParamSize, kVendorSZLC, devId, chNo);
}

int NPC_F_MPI_MON_VCP_SZLC_GetConnParam(const char* connParam, char* devId, size_t devIdSize, int* chNo) {
  return getIdFamily(connParam, devId, devIdSize, chNo);
}
