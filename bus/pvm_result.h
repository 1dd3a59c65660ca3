// The module result codes that travel in order answers (iResult), the camera error code each
// one becomes, and its text in English and Chinese: one list, so codes, camera errors and texts
// cannot drift apart. Codes missing from the list map to the camera's "other" error (below the
// custom range) or pass through as custom codes (from 6150 on), with formatted texts.
#ifndef KORVEN_BUS_PVM_RESULT_H
#define KORVEN_BUS_PVM_RESULT_H

#include <cstddef>
#include <cstdint>

// (iResult, name, camera error, English text, Chinese text). 1001 to 1009 report transport and
// time-out conditions, 2001 to 2028 what the device answered, 3001 to 3006 conditions of the
// local side and the servers.
#define NPC_PVM_ERRORCODE_LIST(X) \
  X(0, NPC_D_PVM_ERRORCODE_SUCCESS, 0, "success", "成功") \
  X(1001, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR, 1, "system error", "系统错误") \
  X(1002, NPC_D_PVM_ERRORCODE_DEV_OFFLINE, 112, "dev offline", "设备离线") \
  X(1003, NPC_D_PVM_ERRORCODE_NET_CONN_FAIL, 2, "Network connection failure", "网络连接失败") \
  X(1004, NPC_D_PVM_ERRORCODE_NET_CONN_TIMEOUT, 2, "Network connection timeout", "网络连接超时") \
  X(1005, NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED, 153, "End to end connection closed", "对端关闭连接") \
  X(1006, NPC_D_PVM_ERRORCODE_LOGIN_DEV_TIMEOUT, 18, "Login device timeout", "登录设备超时") \
  X(1007, NPC_D_PVM_ERRORCODE_REQU_OPER_TIMEOUT, 18, "The requested operation timeout", "请求操作超时") \
  X(1009, NPC_D_PVM_ERRORCODE_OTHER_FAIL, 9, "other fail", "其它失败") \
  X(2001, NPC_D_PVM_ERRORCODE_PRO_PACKET_FORMAT_ERROR, 19, "Protocol packet format error", "协议包格式错误") \
  X(2002, NPC_D_PVM_ERRORCODE_PRO_PARAM_ERROR, 19, "Protocol parameter error", "协议参数错误") \
  X(2003, NPC_D_PVM_ERRORCODE_USER_NAME_ERROR, 101, "user name error", "用户名错误") \
  X(2004, NPC_D_PVM_ERRORCODE_PWD_ERROR, 102, "pwd error", "密码错误") \
  X(2005, NPC_D_PVM_ERRORCODE_WITHOUT_PERMISSION, 111, "without permission", "权限不够") \
  X(2006, NPC_D_PVM_ERRORCODE_NO_LOGIN, 124, "nologin", "未登录") \
  X(2007, NPC_D_PVM_ERRORCODE_TALKING, 108, "talking", "正在对讲") \
  X(2008, NPC_D_PVM_ERRORCODE_QUERY_FILE_FAIL, 8, "query file fail", "查询文件失败") \
  X(2009, NPC_D_PVM_ERRORCODE_NO_SUBSCRIBE, 133, "No subscription", "没有订阅") \
  X(2010, NPC_D_PVM_ERRORCODE_RES_OCCUPIED, 134, "Resources have been occupied", "资源已被占用") \
  X(2011, NPC_D_PVM_ERRORCODE_RES_NOT_OPENED, 135, "Resources have not been opened", "资源已未被打开") \
  X(2012, NPC_D_PVM_ERRORCODE_SUCC_NEED_RESTART, 136, "Successful operation to restart", "操作成功需重启") \
  X(2013, NPC_D_PVM_ERRORCODE_RES_NO_IDLE, 138, "Resource no idle", "无空闲资源可使用") \
  X(2014, NPC_D_PVM_ERRORCODE_RES_NOT_EXIST, 139, "Resource not exist", "资源不存在") \
  X(2015, NPC_D_PVM_ERRORCODE_RES_OPEN_FAIL, 140, "Resource open fail", "打开资源失败") \
  X(2016, NPC_D_PVM_ERRORCODE_NOT_SUPPORT_OPERATE, 141, "Not support operate", "不支持该操作") \
  X(2017, NPC_D_PVM_ERRORCODE_BAN_MODIFY, 142, "Ban modify", "禁止修改") \
  X(2018, NPC_D_PVM_ERRORCODE_OPEN_STREAM_FAIL, 143, "Open stream fail", "打开实时预览失败") \
  X(2019, NPC_D_PVM_ERRORCODE_NOT_SUPPORT_SUB_STREAM, 144, "Not support sub stream", "不支持该子码流") \
  X(2020, NPC_D_PVM_ERRORCODE_NOT_SUPPORT_PTZ, 145, "Not support ptz", "不支持云台控制") \
  X(2021, NPC_D_PVM_ERRORCODE_NOT_SUPPORT_FORCE_I_FRAME, 146, "Not support force i frame", "不支持强制I帧") \
  X(2022, NPC_D_PVM_ERRORCODE_NOT_SUPPORT_TALK, 147, "Not support talk", "不支持语音对讲") \
  X(2023, NPC_D_PVM_ERRORCODE_FILE_OPERATE_FAIL, 148, "File operation fail", "文件操作失败") \
  X(2024, NPC_D_PVM_ERRORCODE_MSG_FUNC_ERROR, 13, "Message function error", "消息功能错误") \
  X(2025, NPC_D_PVM_ERRORCODE_ID_ERROR, 149, "ID error", "ID错误") \
  X(2026, NPC_D_PVM_ERRORCODE_CHANNEL_NO_ERROR, 150, "Channel no error", "通道号错误") \
  X(2027, NPC_D_PVM_ERRORCODE_SUB_STREAM_NO_ERROR, 151, "Sub stream no error", "子码流号错误") \
  X(2028, NPC_D_PVM_ERRORCODE_START_TALK_FAIL, 152, "Start talk fail", "启动对讲失败") \
  X(3001, NPC_D_PVM_ERRORCODE_CONN_PARAM_FAIL, 12, "connect param fail", "连接参数错误") \
  X(3002, NPC_D_PVM_ERRORCODE_LOCAL_RES_NO_IDLE, 138, "Local Resource no idle", "本地无空闲资源可使用") \
  X(3003, NPC_D_PVM_ERRORCODE_SERVER_UNCONNECT, 20, "Server Unconnect", "服务器未完成连接") \
  X(3004, NPC_D_PVM_ERRORCODE_SEND_TO_SERVER_FAIL, 21, "Send to server fail", "发送给服务器失败") \
  X(3005, NPC_D_PVM_ERRORCODE_BROADCAST_CONN_FAIL, 22, "Broadcast connect fail", "局域网广播连接失败") \
  X(3006, NPC_D_PVM_ERRORCODE_RBUDP_PIPE_ANOMALY, 23, "RBUDP pipe anomaly", "可靠UDP管道异常")

enum NPC_E_PVM_ERRORCODE : int32_t {
#define KORVEN_PVM_X(code, name, camErr, en, zh) name = code,
  NPC_PVM_ERRORCODE_LIST(KORVEN_PVM_X)
#undef KORVEN_PVM_X
};

// Codes from this one on are the device's own and pass through unchanged as camera errors.
constexpr int32_t NPC_D_PVM_ERRORCODE_CUSTOM_MIN = 6150;
// The camera error of a code below the custom range that the list does not hold.
constexpr int32_t NPC_D_PVM_CAMERA_ERROR_OTHER = 9;
// Texts of codes outside the list; the code takes the place of %d.
#define NPC_D_PVM_ERRORTEXT_OTHER_EN "other cause：%d."
#define NPC_D_PVM_ERRORTEXT_OTHER_CN "其它原因：%d."
#define NPC_D_PVM_ERRORTEXT_CUSTOM_EN "custom error：%d."
#define NPC_D_PVM_ERRORTEXT_CUSTOM_CN "自定义错误码：%d."

// One row of the list.
struct NPC_S_PVM_ERRORCODE_INFO {
  int32_t iResult;
  const char* sName;
  int32_t iCameraError;
  const char* sEnglishText;
  const char* sChineseText;
};

// The rows in list order; *count receives their number when not null.
const NPC_S_PVM_ERRORCODE_INFO* NPC_F_PVM_GetErrorCodeTable(int* count);
// The row of iResult, or null when the list does not hold it.
const NPC_S_PVM_ERRORCODE_INFO* NPC_F_PVM_FindErrorCodeInfo(int32_t iResult);

// Maps a module result code to the camera's error code, which it returns, and writes the text
// in the chosen language (bEnglish non-zero: English, 0: Chinese) into text (textSize bytes,
// always NUL-terminated, cut at a character boundary; text may be null to get the code alone).
// A listed code gives its row; another code below 6150 gives camera error 9 with "other cause"
// text; 6150 and above give the code itself with "custom error" text.
int32_t NPC_F_PVM_TransErrorCode(int32_t iResult, int bEnglish, char* text, size_t textSize);

#endif
