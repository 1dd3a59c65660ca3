// The per-thread last error. Each thread's record is thread-local storage: it is created on
// first use, freed when its thread ends, and a new thread (even one that gets an old thread's
// id) starts empty. There is no table to fill up, however many threads a JNI pool creates.
#include "runtime/last_error.h"

#include <new>
#include <string>

#include "runtime/text.h"

namespace {

struct LastError {
  int iCode = 0;
  std::string sText;
};

thread_local LastError tLastError;

}  // namespace

void NPC_F_ERROR_LEI_SetLastErrorInfo(int code, const char* text) {
  try {
    tLastError.sText.assign(text ? text : "");
    tLastError.iCode = code;
  } catch (const std::bad_alloc&) {
    // Out of memory: keep the previous error rather than a half-stored one.
  }
}

int NPC_F_ERROR_LEI_GetLastErrorInfo(int* code, char* buf, int len) {
  if (code) *code = tLastError.iCode;
  if (buf && len > 0) {
    const std::string& t = tLastError.sText;
    size_t n = NPC_F_TEXT_Utf8CutLen(t.data(), t.size(), static_cast<size_t>(len) - 1);
    t.copy(buf, n);
    buf[n] = '\0';
  }
  return 1;
}
