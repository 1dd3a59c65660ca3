// Connect-parameter strings: the comma-separated name=value text that tells a camera and the
// device protocol module behind it which device to reach and how ("VendorId=1009,DevIp=...").
// This module owns the table of names, the parser with its lookups, the bounded builder and
// the setter/getter pair of every device family. The camera factory builds the strings, the
// camera hands them down in the camera connect order, the device protocol modules and the
// local device list read them.
//
// Rules every string obeys:
// - at most 1023 characters; the builder refuses a pair that would leave fewer than 32 of the
//   1024 characters free, so a built string has at most 992 characters;
// - a value never holds a comma (the builder refuses one in any text) and has at most 511
//   characters;
// - names come from a table of 50 slots of which 0..14 are named.
//
// Setters return 1 and copy the whole string to the caller's buffer, or return 0 and leave
// the buffer untouched. Getters return 1 and fill the outputs, or return 0 (a required pair
// missing, a null text) and leave every output untouched. A null output pointer (or a text
// buffer of size 0) means the caller does not want that value; required pairs are still
// required. Texts are cut to the caller's buffer, and to the family's limit where it has one.
//
// A string handed in must be NUL-terminated (only its first 1023 characters are read). A
// fixed text field of a received message is copied into a NUL-terminated buffer first
// (NPC_F_TEXT_CopyRaw), since nothing guarantees that the sender terminated it.
#ifndef KORVEN_BUS_VCP_H
#define KORVEN_BUS_VCP_H

#include <cstddef>

// Size of the text a connect-parameter string lives in (at most 1023 characters and a NUL).
constexpr int NPC_D_MPI_MON_VCP_CONN_PARAM_SIZE = 1024;
// The builder keeps at least this many of the 1024 characters free.
constexpr int NPC_D_MPI_MON_VCP_MIN_FREE = 32;
// Longest string the builder makes: 1024 - 32.
constexpr int NPC_D_MPI_MON_VCP_BUILD_MAX_LEN = NPC_D_MPI_MON_VCP_CONN_PARAM_SIZE - NPC_D_MPI_MON_VCP_MIN_FREE;
// Slots of the name table, and the size of one slot.
constexpr int NPC_D_MPI_MON_VCP_NAME_SLOT_NUM = 50;
constexpr int NPC_D_MPI_MON_VCP_NAME_SLOT_SIZE = 32;
// Most pairs a parameter set holds.
constexpr int NPC_D_MPI_MON_VCP_MAX_PARAM_NUM = 50;
// Longest value (a value of 512 characters or more is skipped by the parser).
constexpr int NPC_D_MPI_MON_VCP_VALUE_MAX_LEN = 511;
// Longest name the parser looks up (longer ones are skipped).
constexpr int NPC_D_MPI_MON_VCP_NAME_MAX_LEN = 63;

// The named slots of the name table.
enum NPC_E_MPI_MON_VCP_PARAM_ID : int {
  NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID = 0,       // "VendorId", decimal
  NPC_D_MPI_MON_VCP_PARAM_DEV_IP = 1,          // "DevIp"
  NPC_D_MPI_MON_VCP_PARAM_DEV_PORT = 2,        // "DevPort", decimal
  NPC_D_MPI_MON_VCP_PARAM_DEV_USER_NAME = 3,   // "DevUserName"
  NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD = 4,    // "DevUserPwd"
  NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO = 5,       // "DevChNo", decimal
  NPC_D_MPI_MON_VCP_PARAM_DEV_ID = 6,          // "DevId"
  NPC_D_MPI_MON_VCP_PARAM_DEV_STREAM_NO = 7,   // "DevStreamNo", decimal
  NPC_D_MPI_MON_VCP_PARAM_RTSP_URL = 8,        // "RtspUrl"
  NPC_D_MPI_MON_VCP_PARAM_SIP_URL = 9,         // "SipUrl"
  NPC_D_MPI_MON_VCP_PARAM_HTTP_URL = 10,       // "HttpUrl"
  NPC_D_MPI_MON_VCP_PARAM_EXT_PARAM1 = 11,     // "ExtParam1".."ExtParam4": vendor-specific
  NPC_D_MPI_MON_VCP_PARAM_EXT_PARAM2 = 12,
  NPC_D_MPI_MON_VCP_PARAM_EXT_PARAM3 = 13,
  NPC_D_MPI_MON_VCP_PARAM_EXT_PARAM4 = 14,
};

// The name table: 50 slots of 32 bytes, slots 15..49 empty.
extern const char NPC_D_MPI_MON_VCP_NAME_TABLE[NPC_D_MPI_MON_VCP_NAME_SLOT_NUM][NPC_D_MPI_MON_VCP_NAME_SLOT_SIZE];

// One parsed pair: its slot and its value.
struct NPC_S_MPI_MON_VCP_PARAM_ITEM {
  int iParamId;
  char sValue[NPC_D_MPI_MON_VCP_VALUE_MAX_LEN + 1];
};

// A parsed string: its pairs in the order they stand (a name may occur more than once).
struct NPC_S_MPI_MON_VCP_PARAM_SET {
  int iParamNum;
  NPC_S_MPI_MON_VCP_PARAM_ITEM tParam[NPC_D_MPI_MON_VCP_MAX_PARAM_NUM];
};

// A string under construction.
struct NPC_S_MPI_MON_VCP_BUILDER {
  char sText[NPC_D_MPI_MON_VCP_CONN_PARAM_SIZE];
  int iLen;
  bool bOk;  // false once a pair was refused; the string is then never handed out
};

// ---- Names, parser and lookups ----

// The name of a slot, or null for an empty or out-of-range slot.
const char* NPC_F_MPI_MON_VCP_GetParamName(int paramId);
// The slot of a name (exact, case-sensitive), or -1.
int NPC_F_MPI_MON_VCP_GetParamIdByName(const char* name);
int NPC_F_MPI_MON_VCP_GetParamIdByNameN(const char* name, size_t len);

// Parses a string (its first 1023 characters at most) pair by pair into set. A pair's name
// runs to the first "=" and its value to the next "," or the end; a piece without "=" before
// its comma is skipped by itself, as is a pair whose name is unknown or longer than 63
// characters or whose value has 512 characters or more. At most 50 pairs are kept. Returns 1,
// or 0 for a null argument.
int NPC_F_MPI_MON_VCP_ParseConnParam(const char* connParam, NPC_S_MPI_MON_VCP_PARAM_SET* set);

// The value of the first pair of a slot, cut to buf (bufSize bytes, NUL-terminated). Returns 1
// when the slot is present, 0 otherwise (buf untouched).
int NPC_F_MPI_MON_VCP_GetParamText(const NPC_S_MPI_MON_VCP_PARAM_SET* set, int paramId, char* buf, size_t bufSize);
// The decimal value of the first pair of a slot, read as atoi does (leading blanks, a sign,
// digits up to the first other character, 0 when there are none) but saturating at the int
// range. Returns 1 when the slot is present, 0 otherwise (value untouched).
int NPC_F_MPI_MON_VCP_GetParamInt(const NPC_S_MPI_MON_VCP_PARAM_SET* set, int paramId, int* value);
// Whether a slot is present.
int NPC_F_MPI_MON_VCP_HasParam(const NPC_S_MPI_MON_VCP_PARAM_SET* set, int paramId);

// ---- Builder ----

void NPC_F_MPI_MON_VCP_InitBuilder(NPC_S_MPI_MON_VCP_BUILDER* b);
// Appends "name=text" (with a separating comma after the first pair). Refuses, marking the
// builder failed, a null text, a text with a comma, a text of more than 511 characters, an
// unnamed slot, or a pair after which fewer than 32 of the 1024 characters would stay free.
int NPC_F_MPI_MON_VCP_AddParamText(NPC_S_MPI_MON_VCP_BUILDER* b, int paramId, const char* text);
// Appends "name=%d" under the same rules.
int NPC_F_MPI_MON_VCP_AddParamInt(NPC_S_MPI_MON_VCP_BUILDER* b, int paramId, int value);
// Copies the finished string to out (outSize bytes) when every pair was taken and it fits;
// returns 1, or 0 with out untouched.
int NPC_F_MPI_MON_VCP_CopyOut(const NPC_S_MPI_MON_VCP_BUILDER* b, char* out, size_t outSize);

// ---- Families ----
// Setters write the pairs in the order listed; connParam is the caller's buffer (at least
// 1024 bytes are enough for any string). Family limits are in characters.

// General: VendorId, DevIp, DevPort, DevUserName, DevUserPwd, DevChNo; all six required.
int NPC_F_MPI_MON_VCP_General_SetConnParam(char* connParam, size_t connParamSize, int vendorId, const char* addr,
                                           int port, const char* user, const char* pwd, int chNo);
int NPC_F_MPI_MON_VCP_General_GetConnParam(const char* connParam, int* vendorId, char* addr, size_t addrSize,
                                           int* port, char* user, size_t userSize, char* pwd, size_t pwdSize,
                                           int* chNo);
// General, extended: as General, then DevStreamNo (optional, 0 when missing).
int NPC_F_MPI_MON_VCP_General_SetConnParamEx(char* connParam, size_t connParamSize, int vendorId, const char* addr,
                                             int port, const char* user, const char* pwd, int chNo, int streamNo);
int NPC_F_MPI_MON_VCP_General_GetConnParamEx(const char* connParam, int* vendorId, char* addr, size_t addrSize,
                                             int* port, char* user, size_t userSize, char* pwd, size_t pwdSize,
                                             int* chNo, int* streamNo);

// P2PGeneral: VendorId, DevId, DevIp, DevPort, DevUserName, DevUserPwd, DevChNo, DevStreamNo.
// DevId is optional (empty when missing), DevStreamNo optional (0); the rest required.
int NPC_F_MPI_MON_VCP_P2PGeneral_SetConnParam(char* connParam, size_t connParamSize, int vendorId, const char* devId,
                                              const char* addr, int port, const char* user, const char* pwd,
                                              int chNo, int streamNo);
int NPC_F_MPI_MON_VCP_P2PGeneral_GetConnParam(const char* connParam, int* vendorId, char* devId, size_t devIdSize,
                                              char* addr, size_t addrSize, int* port, char* user, size_t userSize,
                                              char* pwd, size_t pwdSize, int* chNo, int* streamNo);

// HKSP: VendorId=1005, DevIp, DevPort, DevUserName, DevUserPwd, DevChNo; all required.
int NPC_F_MPI_MON_VCP_HKSP_SetConnParam(char* connParam, size_t connParamSize, const char* addr, int port,
                                        const char* user, const char* pwd, int chNo);
int NPC_F_MPI_MON_VCP_HKSP_GetConnParam(const char* connParam, char* addr, size_t addrSize, int* port, char* user,
                                        size_t userSize, char* pwd, size_t pwdSize, int* chNo);

// CDSB: VendorId=2080, then as HKSP; address up to 39 characters, user and password up to 63.
int NPC_F_MPI_MON_VCP_CDSB_SetConnParam(char* connParam, size_t connParamSize, const char* addr, int port,
                                        const char* user, const char* pwd, int chNo);
int NPC_F_MPI_MON_VCP_CDSB_GetConnParam(const char* connParam, char* addr, size_t addrSize, int* port, char* user,
                                        size_t userSize, char* pwd, size_t pwdSize, int* chNo);

// FCAM: VendorId=1006, DevIp, DevChNo; address up to 39 characters.
int NPC_F_MPI_MON_VCP_FCAM_SetConnParam(char* connParam, size_t connParamSize, const char* addr, int chNo);
int NPC_F_MPI_MON_VCP_FCAM_GetConnParam(const char* connParam, char* addr, size_t addrSize, int* chNo);

// HMCP: VendorId=1006, then as HKSP; limits as CDSB.
int NPC_F_MPI_MON_VCP_HMCP_SetConnParam(char* connParam, size_t connParamSize, const char* addr, int port,
                                        const char* user, const char* pwd, int chNo);
int NPC_F_MPI_MON_VCP_HMCP_GetConnParam(const char* connParam, char* addr, size_t addrSize, int* port, char* user,
                                        size_t userSize, char* pwd, size_t pwdSize, int* chNo);

// OWSP: VendorId=1004, DevId (the device number, decimal), DevChNo; both required.
int NPC_F_MPI_MON_VCP_OWSP_SetConnParam(char* connParam, size_t connParamSize, int devNo, int chNo);
int NPC_F_MPI_MON_VCP_OWSP_GetConnParam(const char* connParam, int* devNo, int* chNo);

// HDTP: VendorId=1008, DevId, DevUserPwd, DevChNo; texts up to 31 characters.
int NPC_F_MPI_MON_VCP_HDTP_SetConnParam(char* connParam, size_t connParamSize, const char* devId, const char* pwd,
                                        int chNo);
int NPC_F_MPI_MON_VCP_HDTP_GetConnParam(const char* connParam, char* devId, size_t devIdSize, char* pwd,
                                        size_t pwdSize, int* chNo);
// HDTP, extended: VendorId=1008, DevId, DevUserName, DevUserPwd, DevChNo, DevStreamNo. The
// user name is "admin" when missing, DevStreamNo optional (0); the rest required.
int NPC_F_MPI_MON_VCP_HDTP_SetConnParamEx(char* connParam, size_t connParamSize, const char* devId,
                                          const char* user, const char* pwd, int chNo, int streamNo);
int NPC_F_MPI_MON_VCP_HDTP_GetConnParamEx(const char* connParam, char* devId, size_t devIdSize, char* user,
                                          size_t userSize, char* pwd, size_t pwdSize, int* chNo, int* streamNo);

// SHTL: VendorId=2110, DevIp, DevPort, DevUserName, DevUserPwd, DevChNo, DevId; limits as
// CDSB, device id up to 31 characters; all required.
int NPC_F_MPI_MON_VCP_SHTL_SetConnParam(char* connParam, size_t connParamSize, const char* addr, int port,
                                        const char* user, const char* pwd, int chNo, const char* devId);
int NPC_F_MPI_MON_VCP_SHTL_GetConnParam(const char* connParam, char* addr, size_t addrSize, int* port, char* user,
                                        size_t userSize, char* pwd, size_t pwdSize, int* chNo, char* devId,
                                        size_t devIdSize);

// HKPU: VendorId=2011, DevId, DevChNo; both required.
int NPC_F_MPI_MON_VCP_HKPU_SetConnParam(char* connParam, size_t connParamSize, const char* devId, int chNo);
int NPC_F_MPI_MON_VCP_HKPU_GetConnParam(const char* connParam, char* devId, size_t devIdSize, int* chNo);

// EPMY (port mapping): VendorId=1010, DevId, DevIp (empty when there is no address: a null or
// empty addr), DevPort, ExtParam1 (mapping kind), ExtParam2 (channel), ExtParam3 (local
// port); address up to 15 characters. DevIp is optional when reading (empty when missing);
// the rest is required.
int NPC_F_MPI_MON_VCP_EPMY_SetConnParam(char* connParam, size_t connParamSize, const char* devId, int ext1,
                                        const char* addr, int port, int ext2, int ext3);
int NPC_F_MPI_MON_VCP_EPMY_GetConnParam(const char* connParam, char* devId, size_t devIdSize, int* ext1, char* addr,
                                        size_t addrSize, int* port, int* ext2, int* ext3);

// SZLC: VendorId=2120, DevId, DevChNo; both required.
int NPC_F_MPI_MON_VCP_SZLC_SetConnParam(char* connParam, size_t connParamSize, const char* devId, int chNo);
int NPC_F_MPI_MON_VCP_SZLC_GetConnParam(const char* connParam, char* devId, size_t devIdSize, int* chNo);

#endif
