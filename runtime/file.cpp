// Stdio file helpers: a file record holds the FILE*, a copy of its path and, once
// NPC_F_ReadLineEx has been used, that function's fixed 40960-byte line buffer. Lines are
// read character by character, so a line is only ever as long as the caller's buffer grew
// to hold, and an allocation failure fails the read (-2) without leaving a half-grown buffer
// behind: the caller's buffer stays valid and is still freed with NPC_F_FreeReadBuf.
#include "runtime/file.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/stat.h>

namespace {

constexpr int kLineStep = 4096;
constexpr int kLineExSize = 40960;

struct NPC_S_FILE_DATA {
  FILE* pFile = nullptr;
  char* sPath = nullptr;
  char* pLineEx = nullptr;  // NPC_F_ReadLineEx's buffer, made on first use
};

const char* modeText(int mode) {
  switch (mode) {
    case 1: return "w";
    case 2: return "w+";
    case 3: return "rb";
    case 4: return "wb";
    case 5: return "w+b";
    default: return "r";
  }
}

// Cuts trailing CR and LF characters off line[0..len) and returns the new length.
int stripLineEnd(char* line, int len) {
  while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) --len;
  line[len] = '\0';
  return len;
}

}  // namespace

// Opens path in the given mode (see the header); null when it cannot be opened or memory
// runs out.
void* NPC_F_OpenFile(const char* path, int mode) {
  if (!path) return nullptr;
  auto* f = new (std::nothrow) NPC_S_FILE_DATA;
  if (!f) return nullptr;
  size_t n = strlen(path);
  f->sPath = static_cast<char*>(malloc(n + 1));
  if (!f->sPath) {
    delete f;
    return nullptr;
  }
  memcpy(f->sPath, path, n + 1);
  f->pFile = fopen(path, modeText(mode));
  if (!f->pFile) {
    free(f->sPath);
    delete f;
    return nullptr;
  }
  return f;
}

void NPC_F_CloseFile(void* file) {
  auto* f = static_cast<NPC_S_FILE_DATA*>(file);
  if (!f) return;
  fclose(f->pFile);
  free(f->sPath);
  free(f->pLineEx);
  delete f;
}

int NPC_F_ReadData(void* file, void* buf, int len) {
  auto* f = static_cast<NPC_S_FILE_DATA*>(file);
  if (!f || !buf || len <= 0) return 0;
  return static_cast<int>(fread(buf, 1, static_cast<size_t>(len), f->pFile));
}

// Reads the next line into the caller's buffer (*line of *cap bytes; a null or smaller
// buffer first becomes a 4096-byte one), growing it by 4096 bytes whenever the line and its
// NUL do not fit. Trailing CR/LF are stripped. Returns the line's length, -1 at end of file
// (or for a null file), -2 when the buffer cannot grow (the part read so far is
// dropped, the rest of the line stays unread).
int NPC_F_ReadLine(void* file, char** line, int* cap) {
  auto* f = static_cast<NPC_S_FILE_DATA*>(file);
  if (!f || !line || !cap) return -1;
  if (!*line || *cap < kLineStep) {
    char* b = static_cast<char*>(realloc(*line, kLineStep));
    if (!b) return -2;
    *line = b;
    *cap = kLineStep;
  }
  int len = 0;
  int c = EOF;
  while ((c = getc(f->pFile)) != EOF) {
    if (len + 1 >= *cap) {
      char* b = nullptr;
      if (*cap <= INT_MAX - kLineStep) b = static_cast<char*>(realloc(*line, static_cast<size_t>(*cap) + kLineStep));
      if (!b) {
        ungetc(c, f->pFile);
        (*line)[len] = '\0';
        return -2;
      }
      *line = b;
      *cap += kLineStep;
    }
    (*line)[len++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  (*line)[len] = '\0';
  if (len == 0 && c == EOF) return -1;
  return stripLineEnd(*line, len);
}

// Reads the next line into the record's fixed buffer (*line points into it; valid until the
// next call or CloseFile). A line longer than 40959 bytes comes back in pieces; a LF
// that follows a full piece at once belongs to that piece. Trailing CR/LF are stripped. Returns the
// length, -9 at end of file (or for a null file), -2 when the buffer cannot be made.
int NPC_F_ReadLineEx(void* file, char** line) {
  auto* f = static_cast<NPC_S_FILE_DATA*>(file);
  if (!f || !line) return -9;
  if (!f->pLineEx) {
    f->pLineEx = static_cast<char*>(malloc(kLineExSize));
    if (!f->pLineEx) return -2;
  }
  char* buf = f->pLineEx;
  int len = 0;
  int c = EOF;
  bool ended = false;
  while (len < kLineExSize - 1 && (c = getc(f->pFile)) != EOF) {
    buf[len++] = static_cast<char>(c);
    if (c == '\n') {
      ended = true;
      break;
    }
  }
  if (len == 0 && c == EOF) {
    buf[0] = '\0';
    *line = buf;
    return -9;
  }
  if (!ended && len == kLineExSize - 1) {
    // A full piece: a LF that follows at once ends this piece, so that it does not come
    // back as an empty line of its own.
    int next = getc(f->pFile);
    if (next != '\n' && next != EOF) ungetc(next, f->pFile);
  }
  *line = buf;
  return stripLineEnd(buf, len);
}

int NPC_F_WriteString(void* file, const char* text) {
  auto* f = static_cast<NPC_S_FILE_DATA*>(file);
  if (!f || !text) return 0;
  return fputs(text, f->pFile) >= 0 ? 1 : 0;
}

int NPC_F_WriteChar(void* file, char c) {
  auto* f = static_cast<NPC_S_FILE_DATA*>(file);
  if (!f) return 0;
  return fputc(static_cast<unsigned char>(c), f->pFile) != EOF ? 1 : 0;
}

// The file's size including what is still buffered for writing; -1 on failure.
int64_t NPC_F_GetFileSize(void* file) {
  auto* f = static_cast<NPC_S_FILE_DATA*>(file);
  if (!f) return -1;
  fflush(f->pFile);
  struct stat st;
  if (fstat(fileno(f->pFile), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

int NPC_F_SetFileBeginPos(void* file) {
  auto* f = static_cast<NPC_S_FILE_DATA*>(file);
  if (!f) return 0;
  return fseek(f->pFile, 0, SEEK_SET) == 0 ? 1 : 0;
}

void NPC_F_FreeReadBuf(char** line) {
  if (!line) return;
  free(*line);
  *line = nullptr;
}
