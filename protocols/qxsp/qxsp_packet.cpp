// The QXSP wire format: names, framing, session readers and builders, login digest and result
// translation. No module state lives here.
#include "protocols/qxsp/qxsp_packet.h"

#include <cstdio>
#include <cstring>

#include "bus/pvm_result.h"
#include "protocols/common/md5.h"
#include "runtime/reader.h"
#include "runtime/text.h"

const uint16_t NPC_D_PVM_DP_QXSP_OFFER_VERSIONS[4] = {0x0101, 0x0102, 0x0103, 0x0201};

namespace {

void putU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void putU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The result-only responses and the operation names their answers are logged with.
struct ResultOnlyOp {
  uint16_t usMsgFuncId;
  const char* sOpName;
};
const ResultOnlyOp kResultOnlyOps[] = {
    {NPC_D_PVM_DP_QXSP_P2_PTZ, "云台控制"},
    {NPC_D_PVM_DP_QXSP_P2_CTRL_STREAM, "Ctrl Stream"},
    {NPC_D_PVM_DP_QXSP_P2_ONLY_I_FRAME, "请求只发I帧/恢复全帧"},
    {NPC_D_PVM_DP_QXSP_P2_SET_VIDEO_QUALITY_LEVEL, "Set Video Quality Level"},
    {NPC_D_PVM_DP_QXSP_P5_UNGUARD, "UNGUARD"},
    {NPC_D_PVM_DP_QXSP_P9_MODIFY_USER_PWD, "修改用户密码"},
    {NPC_D_PVM_DP_QXSP_P9_SET_CONFIG, "设置配置参数"},
    {NPC_D_PVM_DP_QXSP_P9_IEC_IMP_CONFIG, "导入配置"},
    {NPC_D_PVM_DP_QXSP_P9_MODIFY_NET_ADDR, "修改网络地址"},
    {NPC_D_PVM_DP_QXSP_P9_COM_OPEN, "打开串口"},
    {NPC_D_PVM_DP_QXSP_P9_COM_CLOSE, "关闭串口"},
    {NPC_D_PVM_DP_QXSP_P9_COM_SEND_DATA, "发送串口数据"},
    {NPC_D_PVM_DP_QXSP_P9_UNS_ADD_USER, "增加用户"},
    {NPC_D_PVM_DP_QXSP_P9_UNS_DEL_USER, "删除用户"},
    {NPC_D_PVM_DP_QXSP_P9_UNS_SET_USER_POP, "设置用户权限列表"},
    {NPC_D_PVM_DP_QXSP_PB_RMY_REBOOT, "重启设备"},
    {NPC_D_PVM_DP_QXSP_PB_RMY_STOP, "停止设备"},
};

// Device result codes of transaction answers: (device code, library code, log text).
struct ProError {
  uint8_t ucResult;
  int32_t iCode;
  const char* sText;
};
const ProError kProErrors[] = {
    {0, 0, "success"},
    {1, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR, "system error"},
    {2, NPC_D_PVM_ERRORCODE_PRO_PARAM_ERROR, "pro param error"},
    {3, NPC_D_PVM_ERRORCODE_USER_NAME_ERROR, "username error"},
    {4, NPC_D_PVM_ERRORCODE_PWD_ERROR, "pwd error"},
    {5, NPC_D_PVM_ERRORCODE_WITHOUT_PERMISSION, "without permission"},
    {6, NPC_D_PVM_ERRORCODE_NO_LOGIN, "未登录"},
    {7, NPC_D_PVM_ERRORCODE_TALKING, "talking"},
    {8, NPC_D_PVM_ERRORCODE_QUERY_FILE_FAIL, "query file fail"},
    {9, NPC_D_PVM_ERRORCODE_NO_SUBSCRIBE, "no subscribe"},
    {10, NPC_D_PVM_ERRORCODE_RES_OCCUPIED, "no subscribe"},
    {11, NPC_D_PVM_ERRORCODE_RES_NOT_OPENED, "resource not open"},
    {12, NPC_D_PVM_ERRORCODE_RES_NO_IDLE, "resource no idle"},
    {13, NPC_D_PVM_ERRORCODE_RES_NOT_EXIST, "resource not exist"},
    {14, NPC_D_PVM_ERRORCODE_RES_OPEN_FAIL, "resource open fail"},
    {15, NPC_D_PVM_ERRORCODE_FILE_OPERATE_FAIL, "file op fail"},
    {40, NPC_D_PVM_ERRORCODE_NOT_SUPPORT_OPERATE, "not support op"},
    {41, NPC_D_PVM_ERRORCODE_BAN_MODIFY, "not support op"},
    {42, NPC_D_PVM_ERRORCODE_MSG_FUNC_ERROR, "msgfunc error"},
    {43, NPC_D_PVM_ERRORCODE_ID_ERROR, "ID error"},
    {50, NPC_D_PVM_ERRORCODE_OPEN_STREAM_FAIL, "open stream fail"},
    {51, NPC_D_PVM_ERRORCODE_NOT_SUPPORT_SUB_STREAM, "not support substream"},
    {52, NPC_D_PVM_ERRORCODE_NOT_SUPPORT_PTZ, "not support "},
    {53, NPC_D_PVM_ERRORCODE_NOT_SUPPORT_FORCE_I_FRAME, "not support force i frame"},
    {54, NPC_D_PVM_ERRORCODE_NOT_SUPPORT_TALK, "not support talk"},
    {55, NPC_D_PVM_ERRORCODE_CHANNEL_NO_ERROR, "channel no error"},
    {56, NPC_D_PVM_ERRORCODE_SUB_STREAM_NO_ERROR, "sub stream no error"},
    {57, NPC_D_PVM_ERRORCODE_START_TALK_FAIL, "start talk fail"},
    {99, NPC_D_PVM_ERRORCODE_OTHER_FAIL, "other error"},
    {200, NPC_D_PVM_ERRORCODE_SUCC_NEED_RESTART, "success and restart"},
};
// Device codes 150..179 are the device's own and travel as 6000 + code.
constexpr uint8_t kCustomFirst = 150;
constexpr uint8_t kCustomLast = 179;
constexpr int32_t kCustomBase = 6000;

}  // namespace

const char* NPC_F_PVM_QXSP_GetMsgName(uint16_t usMsgFuncId) {
  switch (usMsgFuncId) {
#define KORVEN_QXSP_X(num, name) \
  case num:                      \
    return #name;
    NPC_PVM_DP_QXSP_MSG_LIST(KORVEN_QXSP_X)
#undef KORVEN_QXSP_X
    default:
      return nullptr;
  }
}

const char* NPC_F_PVM_QXSP_GetResultOnlyOpName(uint16_t usMsgFuncId) {
  for (const ResultOnlyOp& op : kResultOnlyOps) {
    if (op.usMsgFuncId == usMsgFuncId) return op.sOpName;
  }
  return nullptr;
}

// The start of buffered data, judged in the order the module acts on it: too little to judge,
// a wrong magic, a declared length that cannot be a packet (below the head), a packet still
// arriving (or one that has run past the 10 MiB bound), or a whole packet.
int NPC_F_PVM_QXSP_FrameNext(const uint8_t* data, size_t len, int32_t* packetLen) {
  if (!data || len < static_cast<size_t>(NPC_D_PVM_DP_QXSP_HEAD_LEN)) return NPC_D_PVM_DP_QXSP_FRAME_NEED_MORE;
  NPC_S_READER r(data, len);
  uint32_t flag = r.u32();
  int32_t declared = r.i32();
  if (flag != NPC_D_PVM_DP_QXSP_PACKET_FLAG) return NPC_D_PVM_DP_QXSP_FRAME_BAD_FLAG;
  if (declared < NPC_D_PVM_DP_QXSP_HEAD_LEN) return NPC_D_PVM_DP_QXSP_FRAME_BAD_LEN;
  if (static_cast<uint64_t>(declared) > len) {
    return static_cast<int64_t>(len) >= NPC_D_PVM_DP_QXSP_MAX_RECV_LEN ? NPC_D_PVM_DP_QXSP_FRAME_TOO_LONG
                                                                       : NPC_D_PVM_DP_QXSP_FRAME_NEED_MORE;
  }
  if (packetLen) *packetLen = declared;
  return NPC_D_PVM_DP_QXSP_FRAME_PACKET;
}

int NPC_F_PVM_QXSP_ReadHead(const uint8_t* pkt, size_t len, NPC_S_PVM_DP_QXSP_MSG_HEAD* out) {
  if (!out) return 0;
  memset(out, 0, sizeof *out);
  NPC_S_READER r(pkt, len);
  out->dwPacketFlag = r.u32();
  out->iPacketLen = r.i32();
  out->usMsgFuncId = r.u16();
  out->ucFlags = r.u8();
  out->ucResult = r.u8();
  out->dwTransId = r.u32();
  out->ucEncType = r.u8();
  r.bytes(out->ucReserve, sizeof out->ucReserve);
  if (!r.ok()) {
    memset(out, 0, sizeof *out);
    return 0;
  }
  return 1;
}

void NPC_F_PVM_QXSP_PutHead(uint8_t* p, uint16_t usMsgFuncId, int32_t iPacketLen, uint32_t dwTransId,
                            uint8_t ucFlags) {
  memset(p, 0, NPC_D_PVM_DP_QXSP_HEAD_LEN);
  putU32(p, NPC_D_PVM_DP_QXSP_PACKET_FLAG);
  putU32(p + 4, static_cast<uint32_t>(iPacketLen));
  putU16(p + 8, usMsgFuncId);
  p[10] = ucFlags;
  putU32(p + 12, dwTransId);
}

void NPC_F_PVM_QXSP_PutHeartbeat(uint8_t* p) {
  NPC_F_PVM_QXSP_PutHead(p, NPC_D_PVM_DP_QXSP_P0_HEARTBEAT, NPC_D_PVM_DP_QXSP_HEARTBEAT_LEN, 0);
  memset(p + NPC_D_PVM_DP_QXSP_HEAD_LEN, '0', NPC_D_PVM_DP_QXSP_HEARTBEAT_LEN - NPC_D_PVM_DP_QXSP_HEAD_LEN);
}

void NPC_F_PVM_QXSP_PutVerConsult(uint8_t* p, const uint16_t* versions, int versionNum, uint8_t ucConsultOption) {
  memset(p, 0, NPC_D_PVM_DP_QXSP_VER_CONSULT_LEN);
  NPC_F_PVM_QXSP_PutHead(p, NPC_D_PVM_DP_QXSP_P1_VER_CONSULT_GET_TOKEN, NPC_D_PVM_DP_QXSP_VER_CONSULT_LEN, 0);
  if (versionNum < 0 || !versions) versionNum = 0;
  if (versionNum > NPC_D_PVM_DP_QXSP_VER_MAX_NUM) versionNum = NPC_D_PVM_DP_QXSP_VER_MAX_NUM;
  for (int i = 0; i < versionNum; ++i) putU16(p + 20 + 2 * i, versions[i]);
  putU16(p + 44, static_cast<uint16_t>(versionNum));
  p[109] = ucConsultOption;
}

void NPC_F_PVM_QXSP_PutLogin(uint8_t* p, const char* sUserName, const char* sDigest) {
  memset(p, 0, NPC_D_PVM_DP_QXSP_LOGIN_LEN);
  NPC_F_PVM_QXSP_PutHead(p, NPC_D_PVM_DP_QXSP_P1_LOGIN, NPC_D_PVM_DP_QXSP_LOGIN_LEN, 0);
  NPC_F_TEXT_CopyRaw(reinterpret_cast<char*>(p + 20), NPC_D_PVM_DP_QXSP_USER_NAME_LEN, sUserName,
                     NPC_D_PVM_DP_QXSP_USER_NAME_LEN);
  NPC_F_TEXT_CopyRaw(reinterpret_cast<char*>(p + 52), NPC_D_PVM_DP_QXSP_DIGEST_LEN + 1, sDigest,
                     NPC_D_PVM_DP_QXSP_DIGEST_LEN);
}

void NPC_F_PVM_QXSP_PutLoginCustom(uint8_t* p, const char* sUserName, const char* sDigest, int32_t iCustomNum,
                                   const void* customData, uint32_t dataLen) {
  memset(p, 0, NPC_D_PVM_DP_QXSP_LOGIN_CUSTOM_FIXED_LEN);
  NPC_F_PVM_QXSP_PutHead(p, NPC_D_PVM_DP_QXSP_P1_LOGIN_CUSTOM,
                         static_cast<int32_t>(NPC_D_PVM_DP_QXSP_LOGIN_CUSTOM_FIXED_LEN + dataLen), 0);
  NPC_F_TEXT_CopyRaw(reinterpret_cast<char*>(p + 20), NPC_D_PVM_DP_QXSP_USER_NAME_LEN, sUserName,
                     NPC_D_PVM_DP_QXSP_USER_NAME_LEN);
  NPC_F_TEXT_CopyRaw(reinterpret_cast<char*>(p + 52), NPC_D_PVM_DP_QXSP_DIGEST_LEN + 1, sDigest,
                     NPC_D_PVM_DP_QXSP_DIGEST_LEN);
  putU32(p + 308, static_cast<uint32_t>(iCustomNum));
  putU32(p + 312, dataLen);
  if (customData && dataLen) memcpy(p + NPC_D_PVM_DP_QXSP_LOGIN_CUSTOM_FIXED_LEN, customData, dataLen);
}

// The result byte is read from any packet with a whole head; the fields behind it only when all
// 112 bytes arrived, so a short answer never makes the module read past what it received.
int NPC_F_PVM_QXSP_ReadVerConsultResp(const uint8_t* pkt, size_t len, NPC_S_PVM_DP_QXSP_VER_CONSULT_RESP* out) {
  if (!NPC_F_PVM_QXSP_StartResp(pkt, len, out)) return 0;
  if (len < static_cast<size_t>(NPC_D_PVM_DP_QXSP_VER_CONSULT_LEN)) return 1;
  NPC_S_READER r(pkt, len);
  r.seek(46);
  out->usProVersion = r.u16();
  r.text(out->sToken, sizeof out->sToken, NPC_D_PVM_DP_QXSP_TOKEN_FIELD_LEN);
  out->ucLoginMode = r.u8();  // 108
  r.skip(1);
  out->ucEncType = r.u8();  // 110
  out->bComplete = r.ok();
  return 1;
}

// The login answer's fields from 308 on (316 for the custom login). The seventh text ends where
// the capability bytes begin (512), so it is read as the 24 bytes in between.
int NPC_F_PVM_QXSP_ReadLoginResp(const uint8_t* pkt, size_t len, bool bCustom, NPC_S_PVM_DP_QXSP_LOGIN_RESP* out) {
  if (!NPC_F_PVM_QXSP_StartResp(pkt, len, out)) return 0;
  size_t need = bCustom ? NPC_D_PVM_DP_QXSP_LOGIN_CUSTOM_RESP_LEN : NPC_D_PVM_DP_QXSP_LOGIN_RESP_LEN;
  if (len < need) return 1;
  uint64_t base = bCustom ? NPC_D_PVM_DP_QXSP_LOGIN_CUSTOM_SHIFT : 0;
  NPC_S_READER r(pkt, len);
  r.seek(base + 308);
  out->dwLoginId = r.u32();
  r.text(out->sText1, sizeof out->sText1, 8);
  r.text(out->sText2, sizeof out->sText2, 36);
  r.text(out->sText3, sizeof out->sText3, 32);
  r.text(out->sText4, sizeof out->sText4, 32);
  r.text(out->sText5, sizeof out->sText5, 36);
  r.text(out->sText6, sizeof out->sText6, 32);
  r.text(out->sText7, sizeof out->sText7, 24);
  r.bytes(out->ucAbility, sizeof out->ucAbility);          // 512
  r.bytes(out->ucChannelInfo, sizeof out->ucChannelInfo);  // 520
  for (uint32_t& v : out->dwValue) v = r.u32();            // 536, 540, 544
  out->bComplete = r.ok();
  return 1;
}

int NPC_F_PVM_QXSP_ChooseLoginKind(uint16_t usProVersion, const char* szCustomId, int32_t iCustomNum) {
  if (usProVersion == NPC_D_PVM_DP_QXSP_VER_0101 && szCustomId && strcmp(szCustomId, "sorvanet") == 0) {
    return NPC_D_PVM_DP_QXSP_LOGIN_KIND_EMPTY_PWD;
  }
  if (usProVersion >= NPC_D_PVM_DP_QXSP_VER_0213 && iCustomNum > 0) return NPC_D_PVM_DP_QXSP_LOGIN_KIND_CUSTOM;
  return NPC_D_PVM_DP_QXSP_LOGIN_KIND_PLAIN;
}

void NPC_F_PVM_QXSP_MakeLoginDigest(const char* sToken, const char* sPwd, int iClientFlag, int iLoginMode,
                                    char out[33]) {
  char shortForm[9];
  const char* p = sPwd ? sPwd : "";
  if (iClientFlag == 10 || iLoginMode == 1) {
    NPC_F_PVM_DP_PwdShortForm(p, shortForm);
    p = shortForm;
  }
  const char* token = sToken ? sToken : "";
  NPC_S_PVM_DP_MD5_CTX ctx;
  NPC_F_PVM_DP_MD5_Init(&ctx);
  NPC_F_PVM_DP_MD5_Update(&ctx, token, strlen(token));
  NPC_F_PVM_DP_MD5_Update(&ctx, ":", 1);
  NPC_F_PVM_DP_MD5_Update(&ctx, p, strlen(p));
  uint8_t d[16];
  NPC_F_PVM_DP_MD5_Final(&ctx, d);
  NPC_F_PVM_DP_MD5_ToHex(d, out);
  memset(shortForm, 0, sizeof shortForm);
  memset(d, 0, sizeof d);
}

int32_t NPC_F_PVM_QXSP_TransLoginResult(uint16_t usProVersion, uint8_t ucResult, char* text, size_t textSize) {
  char tmp[128];
  int32_t code = 0;
  tmp[0] = '\0';
  if (ucResult == 0) {
    code = 0;
  } else if (usProVersion <= NPC_D_PVM_DP_QXSP_VER_0102) {
    code = NPC_D_PVM_ERRORCODE_OTHER_FAIL;
    snprintf(tmp, sizeof tmp, "登录失败1，失败码为：%d.", ucResult);
  } else {
    switch (ucResult) {
      case 1:
        code = NPC_D_PVM_ERRORCODE_SYSTEM_ERROR;
        snprintf(tmp, sizeof tmp, "Login Fail, Reason: System Error.");
        break;
      case 2:
        code = NPC_D_PVM_ERRORCODE_PRO_PARAM_ERROR;
        snprintf(tmp, sizeof tmp, "Login Fail, Reason: Protocal Param Error.");
        break;
      case 3:
        code = NPC_D_PVM_ERRORCODE_USER_NAME_ERROR;
        snprintf(tmp, sizeof tmp, "Login Fail, Reason: User Name Error.");
        break;
      case 4:
        code = NPC_D_PVM_ERRORCODE_PWD_ERROR;
        snprintf(tmp, sizeof tmp, "Login Fail, Reason: Pwd Error.");
        break;
      case 5:
        code = NPC_D_PVM_ERRORCODE_WITHOUT_PERMISSION;
        snprintf(tmp, sizeof tmp, "Login Fail, Reason: Without Permission.");
        break;
      default:
        code = NPC_D_PVM_ERRORCODE_OTHER_FAIL;
        snprintf(tmp, sizeof tmp, "Login Fail, Failure Code: %d.", ucResult);
        break;
    }
  }
  if (text && textSize) NPC_F_TEXT_Copy(text, textSize, tmp);
  return code;
}

int32_t NPC_F_PVM_QXSP_TransProErrorCode(uint8_t ucResult, int bufLen, char* buf) {
  char tmp[64];
  int32_t code = NPC_D_PVM_ERRORCODE_OTHER_FAIL;
  bool found = false;
  for (const ProError& e : kProErrors) {
    if (e.ucResult == ucResult) {
      code = e.iCode;
      snprintf(tmp, sizeof tmp, "%s", e.sText);
      found = true;
      break;
    }
  }
  if (!found) {
    if (ucResult >= kCustomFirst && ucResult <= kCustomLast) {
      code = kCustomBase + ucResult;
      snprintf(tmp, sizeof tmp, "Custom error codes: %d", ucResult);
    } else {
      code = NPC_D_PVM_ERRORCODE_OTHER_FAIL;
      snprintf(tmp, sizeof tmp, "other error, error codes: %d", ucResult);
    }
  }
  if (buf && bufLen > 0) NPC_F_TEXT_Copy(buf, static_cast<size_t>(bufLen), tmp);
  return code;
}
