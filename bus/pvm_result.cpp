// The module result code table and its mapping to camera errors and texts.
#include "bus/pvm_result.h"

#include <cstdio>

#include "runtime/text.h"

namespace {

const NPC_S_PVM_ERRORCODE_INFO kErrorCodeTable[] = {
#define KORVEN_PVM_X(code, name, camErr, en, zh) {code, #name, camErr, en, zh},
    NPC_PVM_ERRORCODE_LIST(KORVEN_PVM_X)
#undef KORVEN_PVM_X
};
constexpr int kErrorCodeNum = static_cast<int>(sizeof(kErrorCodeTable) / sizeof(kErrorCodeTable[0]));

}  // namespace

const NPC_S_PVM_ERRORCODE_INFO* NPC_F_PVM_GetErrorCodeTable(int* count) {
  if (count) *count = kErrorCodeNum;
  return kErrorCodeTable;
}

const NPC_S_PVM_ERRORCODE_INFO* NPC_F_PVM_FindErrorCodeInfo(int32_t iResult) {
  for (const auto& row : kErrorCodeTable)
    if (row.iResult == iResult) return &row;
  return nullptr;
}

int32_t NPC_F_PVM_TransErrorCode(int32_t iResult, int bEnglish, char* text, size_t textSize) {
  const bool wantText = text && textSize > 0;
  if (const NPC_S_PVM_ERRORCODE_INFO* row = NPC_F_PVM_FindErrorCodeInfo(iResult)) {
    if (wantText) NPC_F_TEXT_Copy(text, textSize, bEnglish ? row->sEnglishText : row->sChineseText);
    return row->iCameraError;
  }
  // The formatted rows go through a buffer large enough for the longest of them, so the
  // caller's buffer receives a clean character cut rather than snprintf's byte cut.
  char buf[64];
  int32_t cameraError;
  if (iResult >= NPC_D_PVM_ERRORCODE_CUSTOM_MIN) {
    cameraError = iResult;
    if (bEnglish)
      snprintf(buf, sizeof buf, NPC_D_PVM_ERRORTEXT_CUSTOM_EN, static_cast<int>(iResult));
    else
      snprintf(buf, sizeof buf, NPC_D_PVM_ERRORTEXT_CUSTOM_CN, static_cast<int>(iResult));
  } else {
    cameraError = NPC_D_PVM_CAMERA_ERROR_OTHER;
    if (bEnglish)
      snprintf(buf, sizeof buf, NPC_D_PVM_ERRORTEXT_OTHER_EN, static_cast<int>(iResult));
    else
      snprintf(buf, sizeof buf, NPC_D_PVM_ERRORTEXT_OTHER_CN, static_cast<int>(iResult));
  }
  if (wantText) NPC_F_TEXT_Copy(text, textSize, buf);
  return cameraError;
}
