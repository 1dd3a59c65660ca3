// korvenctl: a command-line program on the library.
//
//   korvenctl live --conn "<connect-parameter string>" [--seconds N] [--out FILE.h264]
//                  [--audio FILE.wav] [--timeout MS] [--quiet] [--verbose]
//
// "live" creates a protocol bus and a protocol-bus camera from the connect-parameter string
// (vendor id and device id taken from it, client flag 0, connect mode 0, as the camera factory
// will once the client environment exists), connects, starts the live view, pulls frames for N
// seconds and writes the video as an Annex-B H.264 elementary stream and the 16-bit PCM audio as
// a WAV file. While it runs it shows a progress line (frames, frames per second, kbit/s, key
// frames) and at the end a summary. Failures print one line with the camera's error text and
// end with an exit code that tells refused connections, wrong credentials and time-outs apart.
//
// The connect-parameter string carries the device password: it is never printed.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bus/nxtp_mc.h"
#include "bus/nxtp_modules.h"
#include "bus/nxtp_syn.h"
#include "bus/vcp.h"
#include "camera/nxtp_camera.h"
#include "runtime/clock.h"
#include "runtime/log.h"

namespace {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitLocal = 1;      // an output file or the protocol bus could not be set up
constexpr int kExitUsage = 2;      // bad arguments
constexpr int kExitRefused = 3;    // the device could not be reached or refused the connection
constexpr int kExitAuth = 4;       // wrong user name or password, or no permission
constexpr int kExitTimeout = 5;    // no answer in time, or the media stopped coming
constexpr int kExitSession = 6;    // the device refused the live view or closed the session

// Camera error codes the exit codes are chosen by.
constexpr int kCamNetFail = 2;          // network connection failure or time-out
constexpr int kCamUserName = 101;
constexpr int kCamPassword = 102;
constexpr int kCamPermission = 111;
constexpr int kCamDevOffline = 112;
constexpr int kCamPeerClosed = 153;
constexpr int kCamTimeout = 18;         // login or request time-out
constexpr int kCamCallFail = 6;         // the call layer failed; "[-5]" in its text is a time-out

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

void usage(FILE* out) {
  fprintf(out,
          "usage: korvenctl live --conn \"<connect-parameter string>\" [options]\n"
          "\n"
          "Connects to one device channel, starts the live view and records it.\n"
          "\n"
          "options:\n"
          "  --conn STRING    connect-parameter string, for example\n"
          "                   \"VendorId=1009,DevIp=192.168.1.20,DevPort=5800,DevUserName=admin,\n"
          "                   DevUserPwd=...,DevChNo=0,DevStreamNo=0\" (required; never printed)\n"
          "  --seconds N      how long to receive, 1..86400 (default 10)\n"
          "  --out FILE       write the video as an Annex-B H.264 stream (playable by ffplay, VLC)\n"
          "  --audio FILE     write the audio as 16-bit PCM WAV\n"
          "  --timeout MS     time-out of the connect and of every order, 100..600000 (default 10000)\n"
          "  --quiet          no progress line\n"
          "  --verbose        show the library's log lines\n"
          "  --help           this text\n"
          "\n"
          "exit codes: 0 done, 1 local failure (files, bus), 2 bad arguments, 3 device unreachable or\n"
          "connection refused, 4 wrong user name or password, 5 time-out (no answer, or the media\n"
          "stopped), 6 live view refused or session closed by the device\n");
}

struct Options {
  std::string conn;
  int seconds = 10;
  std::string out;
  std::string audio;
  int timeoutMs = 10000;
  bool quiet = false;
  bool verbose = false;
};

// Reads a decimal number in [lo, hi]; false for anything else.
bool parseInt(const char* s, int lo, int hi, int* out) {
  if (!s || !*s) return false;
  char* end = nullptr;
  errno = 0;
  const long v = strtol(s, &end, 10);
  if (errno != 0 || *end != 0 || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

// Parses the arguments after the command name. Returns -1 to go on, otherwise an exit code.
int parseArgs(int argc, char** argv, Options* o) {
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        fprintf(stderr, "korvenctl: %s needs a value\n", name);
        return nullptr;
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      usage(stdout);
      return kExitOk;
    } else if (a == "--conn") {
      const char* v = value("--conn");
      if (!v) return kExitUsage;
      o->conn = v;
    } else if (a == "--seconds") {
      const char* v = value("--seconds");
      if (!v) return kExitUsage;
      if (!parseInt(v, 1, 86400, &o->seconds)) {
        fprintf(stderr, "korvenctl: --seconds must be a whole number from 1 to 86400\n");
        return kExitUsage;
      }
    } else if (a == "--out") {
      const char* v = value("--out");
      if (!v) return kExitUsage;
      o->out = v;
    } else if (a == "--audio") {
      const char* v = value("--audio");
      if (!v) return kExitUsage;
      o->audio = v;
    } else if (a == "--timeout") {
      const char* v = value("--timeout");
      if (!v) return kExitUsage;
      if (!parseInt(v, 100, 600000, &o->timeoutMs)) {
        fprintf(stderr, "korvenctl: --timeout must be a whole number of milliseconds from 100 to 600000\n");
        return kExitUsage;
      }
    } else if (a == "--quiet") {
      o->quiet = true;
    } else if (a == "--verbose") {
      o->verbose = true;
    } else {
      fprintf(stderr, "korvenctl: unknown option %s (see korvenctl --help)\n", a.c_str());
      return kExitUsage;
    }
  }
  if (o->conn.empty()) {
    fprintf(stderr, "korvenctl: --conn is required (see korvenctl --help)\n");
    return kExitUsage;
  }
  if (o->conn.size() >= static_cast<size_t>(NPC_D_MPI_MON_VCP_CONN_PARAM_SIZE)) {
    fprintf(stderr, "korvenctl: --conn is longer than %d characters\n", NPC_D_MPI_MON_VCP_CONN_PARAM_SIZE - 1);
    return kExitUsage;
  }
  return -1;
}

// The exit code for a camera error (code and text as the camera stored them).
int exitCodeFor(int code, const char* text) {
  switch (code) {
    case kCamUserName:
    case kCamPassword:
    case kCamPermission:
      return kExitAuth;
    case kCamNetFail:
    case kCamDevOffline:
    case kCamPeerClosed:
      return kExitRefused;
    case kCamTimeout:
      return kExitTimeout;
    case kCamCallFail:
      return strstr(text, "[-5]") ? kExitTimeout : kExitSession;
    default:
      return kExitSession;
  }
}

// One line with the failing step and the camera's error text; returns the exit code.
int failWith(NPC_C_VPI_NXTP_Camera* cam, const char* step) {
  char text[512] = "";
  const int code = cam->NPC_F_MPI_MON_Camera_GetLastError(sizeof text, text);
  fprintf(stderr, "\nkorvenctl: %s failed: %s [camera error %d]\n", step, text, code);
  return exitCodeFor(code, text);
}

// --- Output files --------------------------------------------------------------------------------

bool hasStartCode(const uint8_t* p, int n) {
  return (n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1) || (n >= 3 && p[0] == 0 && p[1] == 0 && p[2] == 1);
}

// Writes one access unit as Annex-B: as it is when it already starts with a start code; NAL
// units with 4-byte big-endian lengths that cover the frame exactly are rewritten with start
// codes; anything else is taken as one bare NAL unit.
bool writeAnnexB(FILE* f, const uint8_t* p, int n) {
  static const uint8_t kStart[4] = {0, 0, 0, 1};
  if (n <= 0) return true;
  if (hasStartCode(p, n)) return fwrite(p, 1, static_cast<size_t>(n), f) == static_cast<size_t>(n);
  int64_t pos = 0;
  bool lengthPrefixed = true;
  while (pos < n) {
    if (n - pos < 4) {
      lengthPrefixed = false;
      break;
    }
    const uint32_t len = (uint32_t(p[pos]) << 24) | (uint32_t(p[pos + 1]) << 16) | (uint32_t(p[pos + 2]) << 8) | p[pos + 3];
    if (len == 0 || len > static_cast<uint64_t>(n - pos - 4)) {
      lengthPrefixed = false;
      break;
    }
    pos += 4 + static_cast<int64_t>(len);
  }
  if (!lengthPrefixed) {
    return fwrite(kStart, 1, 4, f) == 4 && fwrite(p, 1, static_cast<size_t>(n), f) == static_cast<size_t>(n);
  }
  for (pos = 0; pos < n;) {
    const uint32_t len = (uint32_t(p[pos]) << 24) | (uint32_t(p[pos + 1]) << 16) | (uint32_t(p[pos + 2]) << 8) | p[pos + 3];
    if (fwrite(kStart, 1, 4, f) != 4 || fwrite(p + pos + 4, 1, len, f) != len) return false;
    pos += 4 + static_cast<int64_t>(len);
  }
  return true;
}

void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void putLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// A 16-bit PCM WAV file whose header is written again with the real sizes at the end.
struct WavFile {
  FILE* f = nullptr;
  uint32_t dataBytes = 0;
  int sampleRate = 0;
  int channels = 0;

  bool writeHeader() {
    const int rate = sampleRate > 0 ? sampleRate : 8000;
    const int ch = channels > 0 ? channels : 1;
    uint8_t h[44];
    memcpy(h, "RIFF", 4);
    putLe32(h + 4, 36 + dataBytes);
    memcpy(h + 8, "WAVEfmt ", 8);
    putLe32(h + 16, 16);
    putLe16(h + 20, 1);  // PCM
    putLe16(h + 22, static_cast<uint16_t>(ch));
    putLe32(h + 24, static_cast<uint32_t>(rate));
    putLe32(h + 28, static_cast<uint32_t>(rate * ch * 2));
    putLe16(h + 32, static_cast<uint16_t>(ch * 2));
    putLe16(h + 34, 16);
    memcpy(h + 36, "data", 4);
    putLe32(h + 40, dataBytes);
    return fseek(f, 0, SEEK_SET) == 0 && fwrite(h, 1, sizeof h, f) == sizeof h && fseek(f, 0, SEEK_END) == 0;
  }
};

// iAudioCodecId of 16-bit PCM as the modules hand decoded audio up.
constexpr int kAudioCodecPcm = 30;

struct Stats {
  int64_t videoFrames = 0;
  int64_t keyFrames = 0;
  int64_t audioFrames = 0;
  int64_t videoBytes = 0;
  int64_t audioBytes = 0;
  int64_t otherAudioFrames = 0;
};

std::string mib(int64_t bytes) {
  char b[32];
  snprintf(b, sizeof b, "%.2f MB", static_cast<double>(bytes) / 1e6);
  return b;
}

// The live command.
int runLive(const Options& o) {
  NPC_S_MPI_MON_VCP_PARAM_SET set;
  int vendorId = 0;
  char devId[32] = "";
  int streamNo = 0;
  if (!NPC_F_MPI_MON_VCP_ParseConnParam(o.conn.c_str(), &set) ||
      !NPC_F_MPI_MON_VCP_GetParamInt(&set, NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, &vendorId) || vendorId <= 0) {
    fprintf(stderr, "korvenctl: --conn has no VendorId=<number> pair\n");
    return kExitUsage;
  }
  NPC_F_MPI_MON_VCP_GetParamText(&set, NPC_D_MPI_MON_VCP_PARAM_DEV_ID, devId, sizeof devId);
  NPC_F_MPI_MON_VCP_GetParamInt(&set, NPC_D_MPI_MON_VCP_PARAM_DEV_STREAM_NO, &streamNo);

  FILE* video = nullptr;
  WavFile wav;
  if (!o.out.empty() && !(video = fopen(o.out.c_str(), "wb"))) {
    fprintf(stderr, "korvenctl: cannot write %s: %s\n", o.out.c_str(), strerror(errno));
    return kExitLocal;
  }
  if (!o.audio.empty()) {
    if (!(wav.f = fopen(o.audio.c_str(), "wb+")) || !wav.writeHeader()) {
      fprintf(stderr, "korvenctl: cannot write %s: %s\n", o.audio.c_str(), strerror(errno));
      if (video) fclose(video);
      if (wav.f) fclose(wav.f);
      return kExitLocal;
    }
  }

  // Without a module for the vendor nothing would ever answer: say so rather than time out.
  const NPC_S_NXTP_MODULE_TABLE* modules = NPC_F_NXTP_GetModuleTable();
  bool known = false;
  std::string available;
  for (int i = 0; i < modules->iEntryNum; ++i) {
    const NPC_S_NXTP_MODULE_ENTRY& e = modules->pEntries[i];
    if (e.dwVendorId == static_cast<uint32_t>(vendorId)) known = true;
    available += " " + std::to_string(e.dwVendorId) + " (" + (e.sName ? e.sName : "") + ")";
  }
  if (!known) {
    fprintf(stderr, "korvenctl: no device protocol module for VendorId=%d; available:%s\n", vendorId,
            available.empty() ? " none" : available.c_str());
    if (video) fclose(video);
    if (wav.f) fclose(wav.f);
    return kExitUsage;
  }

  // A bus of its own, without a server: the device is reached directly.
  const NPC_S_NXTP_CREATE_PARAM param = NPC_F_NXTP_MakeLocalCreateParam(nullptr);
  NPC_H_NXTP_SYN syn = NPC_F_NXTP_SYN_CreateProtocolBusServerEx(&param);
  if (!syn) {
    fprintf(stderr, "korvenctl: the protocol bus could not be started\n");
    if (video) fclose(video);
    if (wav.f) fclose(wav.f);
    return kExitLocal;
  }
  auto* cam = new NPC_C_VPI_NXTP_Camera(syn, devId, static_cast<uint32_t>(vendorId), "", "", "", 0, o.conn.c_str(), 1,
                                        o.timeoutMs, 0);
  cam->iConnectMode = NPC_D_MPI_MON_CONNECT_MODE_ADDR;
  cam->iClientFlag = 0;

  int rc = kExitOk;
  Stats st;
  bool writeFailed = false;
  if (cam->NPC_F_MPI_MON_Camera_Connect(o.timeoutMs, nullptr, 0, 0) != 0) {
    rc = failWith(cam, "connect");
  } else if (cam->NPC_F_MPI_MON_Camera_Play(streamNo, 0, 0) != 0) {
    rc = failWith(cam, "live view");
  } else {
    const int64_t start = NPC_F_SYS_GetTickCount64();
    const int64_t end = start + static_cast<int64_t>(o.seconds) * 1000;
    int64_t lastShow = start;
    int64_t framesAtShow = 0, bytesAtShow = 0;
    // Writes one frame to its file and counts it; the frame is released.
    auto handle = [&](NPC_S_MPI_MON_MEDIA_FRAME* f) {
      const NPC_S_MON_MEDIA_FRAME_HEAD& h = f->tFrameHead;
      if (h.iMediaType == NPC_D_MON_MEDIA_TYPE_VIDEO && f->iFrameDataLen > 0) {
        ++st.videoFrames;
        if (h.iVideoFrameType == NPC_D_MON_VIDEO_FRAME_TYPE_I) ++st.keyFrames;
        st.videoBytes += f->iFrameDataLen;
        if (video && !writeAnnexB(video, f->pFrameData, f->iFrameDataLen)) writeFailed = true;
      } else if (h.iMediaType == NPC_D_MON_MEDIA_TYPE_AUDIO && f->iFrameDataLen > 0) {
        ++st.audioFrames;
        st.audioBytes += f->iFrameDataLen;
        if (wav.f) {
          if (h.iAudioCodecId == kAudioCodecPcm) {
            if (wav.sampleRate == 0) {
              wav.sampleRate = h.iAudioSampleRate;
              wav.channels = h.iAudioChNum;
            }
            const size_t n = static_cast<size_t>(f->iFrameDataLen) & ~size_t(1);
            if (fwrite(f->pFrameData, 1, n, wav.f) != n) writeFailed = true;
            wav.dataBytes += static_cast<uint32_t>(n);
          } else {
            ++st.otherAudioFrames;
          }
        }
      }
      cam->NPC_F_MPI_MON_Camera_ReleaseFrameData(f);
    };
    while (!g_stop) {
      const int64_t now = NPC_F_SYS_GetTickCount64();
      if (now >= end) break;
      if (cam->NPC_F_MPI_MON_Camera_GetState() == NPC_D_MPI_MON_CAMERA_STATE_DISCONNECTED) {
        // The frames that came before the end are still queued (a device that closes right
        // after its last frames leaves up to a whole list of them): they belong to the
        // recording.
        while (!writeFailed) {
          NPC_S_MPI_MON_MEDIA_FRAME* f = cam->NPC_F_MPI_MON_Camera_GetMediaFrameFromQueue(0);
          if (!f) break;
          handle(f);
        }
        const int cause = cam->NPC_F_MPI_MON_Camera_GetDisconnectCause();
        if (writeFailed) {
          fprintf(stderr, "\nkorvenctl: writing the output failed: %s\n", strerror(errno));
          rc = kExitLocal;
        } else if (cause == NPC_D_MPI_MON_CAMERA_DISCAUSE_MEDIA_TIMEOUT) {
          fprintf(stderr, "\nkorvenctl: live view failed: no media from the device for too long\n");
          rc = kExitTimeout;
        } else {
          fprintf(stderr, "\nkorvenctl: live view failed: the device closed the session\n");
          rc = kExitSession;
        }
        break;
      }
      const int64_t wait = std::min<int64_t>(200, end - now);
      NPC_S_MPI_MON_MEDIA_FRAME* f = cam->NPC_F_MPI_MON_Camera_GetMediaFrameFromQueue(static_cast<int>(wait));
      if (f) handle(f);
      if (writeFailed) {
        fprintf(stderr, "\nkorvenctl: writing the output failed: %s\n", strerror(errno));
        rc = kExitLocal;
        break;
      }
      const int64_t t = NPC_F_SYS_GetTickCount64();
      if (!o.quiet && t - lastShow >= 1000) {
        const double secs = static_cast<double>(t - lastShow) / 1000.0;
        fprintf(stderr, "\rframes %lld  fps %.1f  kbit/s %.1f  key %lld   ", static_cast<long long>(st.videoFrames),
                static_cast<double>(st.videoFrames - framesAtShow) / secs,
                static_cast<double>(st.videoBytes - bytesAtShow) * 8.0 / 1000.0 / secs,
                static_cast<long long>(st.keyFrames));
        fflush(stderr);
        lastShow = t;
        framesAtShow = st.videoFrames;
        bytesAtShow = st.videoBytes;
      }
    }
    const double secs = static_cast<double>(NPC_F_SYS_GetTickCount64() - start) / 1000.0;
    if (!o.quiet) fprintf(stderr, "\n");
    cam->NPC_F_MPI_MON_Camera_Stop(o.timeoutMs);
    printf("live: %.1f s, %lld video frames (%lld key), %lld audio frames, video %s, %.1f fps, %.1f kbit/s\n", secs,
           static_cast<long long>(st.videoFrames), static_cast<long long>(st.keyFrames),
           static_cast<long long>(st.audioFrames), mib(st.videoBytes).c_str(),
           secs > 0 ? static_cast<double>(st.videoFrames) / secs : 0.0,
           secs > 0 ? static_cast<double>(st.videoBytes) * 8.0 / 1000.0 / secs : 0.0);
    if (video) printf("video written to %s\n", o.out.c_str());
    if (wav.f) {
      printf("audio written to %s\n", o.audio.c_str());
      if (st.otherAudioFrames > 0)
        printf("note: %lld audio frames were not PCM and were left out of the WAV file\n",
               static_cast<long long>(st.otherAudioFrames));
    }
  }
  cam->NPC_F_MPI_MON_Camera_Disconnect();
  delete cam;
  NPC_F_NXTP_SYN_DestroyProtocolBusServer(syn);
  if (video && fclose(video) != 0 && rc == kExitOk) rc = kExitLocal;
  if (wav.f) {
    if ((!wav.writeHeader() || fclose(wav.f) != 0) && rc == kExitOk) rc = kExitLocal;
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    usage(stderr);
    return kExitUsage;
  }
  const std::string cmd = argv[1];
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    usage(stdout);
    return kExitOk;
  }
  if (cmd != "live") {
    fprintf(stderr, "korvenctl: unknown command %s (see korvenctl --help)\n", cmd.c_str());
    return kExitUsage;
  }
  Options o;
  const int parsed = parseArgs(argc, argv, &o);
  if (parsed >= 0) return parsed;

  NPC_F_LOG_SR_SetIfWriteLogToFile(0);
  NPC_F_LOG_SR_SetIfShowLog(o.verbose ? 1 : 0);
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  return runLive(o);
}
