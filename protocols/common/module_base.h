// The module skeleton that every device protocol module builds on: the per-module descriptor,
// the id'd slot tables, the base records (logical connection, device, camera, transaction,
// pending order), the receive buffer with its read offset, and the module base class with the
// callback, the network messages a module sends to the engine, in-place order answers, the
// transaction table with its expiry sweep and the scratch buffer.
//
// A module class derives from NPC_C_PVM_DP_ModuleBase<Conn, Dev, Cam> with its own records
// (each deriving from the base record of its kind), is declared final, implements the five
// operations of NPC_I_PVM_DevProtocol, and opens each of them with an NPC_C_PVM_DP_OpScope.
// Records removed from a table while an operation runs are retired, not destroyed: they live
// until the outermost operation returns, so a handler deeper in the stack that still holds a
// pointer (a packet inside a connection's receive buffer, a device being walked) never reads
// freed memory. Whether a record is still current is asked of its table by id.
//
// Threads: everything here runs on the engine's work thread (the five operations are never
// called concurrently), so nothing locks.
#ifndef KORVEN_PROTOCOLS_COMMON_MODULE_BASE_H
#define KORVEN_PROTOCOLS_COMMON_MODULE_BASE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "bus/dev_protocol.h"
#include "bus/pvm_msg.h"
#include "runtime/random.h"

// ---------------------------------------------------------------------------------------------
// Descriptor: one per module class, next to it. The engine and the cameras branch on the
// capability flags of the bus's vendor table; the sizes here shape the module's own tables.

struct NPC_S_PVM_DP_MODULE_DESC {
  uint32_t dwVendorId;    // the id the engine registers the module under
  const char* sName;      // four letters, as in the engine's registration log
  uint32_t dwCapFlags;    // NPC_D_PVM_CAP_* (the same flags as the bus's vendor table)
  int iLogicConnNum;      // logical-connection slots
  int iDevNum;            // device slots
  int iCameraNum;         // camera slots of each device
  int iTransNum;          // transaction slots (0: the module keeps no transactions)
  int iTransExpireSecs;   // the sweep frees transactions older than this many seconds
  int iScratchLen;        // bytes of the scratch buffer
};

// ---------------------------------------------------------------------------------------------
// Ids: the slot in the low 16 bits, a random tag in bits 16..30. A slot's new tag differs from
// its previous one and from 0, so an id is never 0, never negative as an i32, and a stale id of
// a freed and reused slot never matches.

constexpr int NPC_D_PVM_DP_ID_SLOT_BITS = 16;
constexpr uint32_t NPC_D_PVM_DP_ID_SLOT_MASK = 0xFFFFu;
constexpr uint32_t NPC_D_PVM_DP_ID_TAG_MASK = 0x7FFFu;
constexpr int NPC_D_PVM_DP_TABLE_MAX_SLOTS = 0x10000;

inline int NPC_F_PVM_DP_IdSlot(uint32_t id) { return static_cast<int>(id & NPC_D_PVM_DP_ID_SLOT_MASK); }

// Every record kind derives from this, so that retired records of any kind wait in one list.
struct NPC_S_PVM_DP_RECORD {
  virtual ~NPC_S_PVM_DP_RECORD() = default;
};

// A fixed number of slots, each empty or holding one record with its id.
template <typename T>
class NPC_C_PVM_DP_Table {
 public:
  // Sizes the table (1..65536 slots); earlier records are destroyed. 0 when memory runs out
  // or the size is outside that range.
  int Init(int slots) {
    Clear();
    if (slots < 1 || slots > NPC_D_PVM_DP_TABLE_MAX_SLOTS) return 0;
    try {
      std::vector<Slot> fresh(static_cast<size_t>(slots));
      m_tSlots.swap(fresh);
    } catch (const std::bad_alloc&) {
      return 0;
    }
    return 1;
  }
  int Size() const { return static_cast<int>(m_tSlots.size()); }
  int Count() const { return m_iCount; }
  // One past the highest slot in use (0 when the table is empty): every slot from it on is
  // empty. Loops over the records stop there, so a table of 256 slots holding one record costs
  // one step, not 256 (the module timer walks the device and camera tables on every engine pass).
  int Bound() const { return m_iBound; }
  bool Full() const { return m_iCount >= Size(); }

  // A new record in the first free slot with a fresh id; null when the table is full or memory
  // runs out.
  T* Create(uint32_t* outId = nullptr, int* outSlot = nullptr) {
    for (size_t i = 0; i < m_tSlots.size(); ++i) {
      Slot& s = m_tSlots[i];
      if (s.pRec) continue;
      T* rec = new (std::nothrow) T();
      if (!rec) return nullptr;
      s.pRec.reset(rec);
      s.dwLastTag = NPC_F_SYS_RANDOM_NewTag(s.dwLastTag, NPC_D_PVM_DP_ID_TAG_MASK);
      s.dwId = s.dwLastTag << NPC_D_PVM_DP_ID_SLOT_BITS | static_cast<uint32_t>(i);
      ++m_iCount;
      m_iBound = std::max(m_iBound, static_cast<int>(i) + 1);
      if (outId) *outId = s.dwId;
      if (outSlot) *outSlot = static_cast<int>(i);
      return rec;
    }
    return nullptr;
  }
  // The record whose id is exactly id, or null (slot outside the table, empty, or reused).
  T* Query(uint32_t id) const {
    size_t slot = id & NPC_D_PVM_DP_ID_SLOT_MASK;
    if (id == 0 || slot >= m_tSlots.size()) return nullptr;
    const Slot& s = m_tSlots[slot];
    return s.pRec && s.dwId == id ? s.pRec.get() : nullptr;
  }
  T* At(int slot) const {
    if (slot < 0 || static_cast<size_t>(slot) >= m_tSlots.size()) return nullptr;
    return m_tSlots[static_cast<size_t>(slot)].pRec.get();
  }
  uint32_t IdAt(int slot) const {
    if (slot < 0 || static_cast<size_t>(slot) >= m_tSlots.size() || !m_tSlots[static_cast<size_t>(slot)].pRec) return 0;
    return m_tSlots[static_cast<size_t>(slot)].dwId;
  }
  // Removes the record of a slot from the table and hands it over (null for an empty slot).
  // The slot keeps its last tag, so its next id differs.
  std::unique_ptr<T> Take(int slot) {
    if (slot < 0 || static_cast<size_t>(slot) >= m_tSlots.size()) return nullptr;
    Slot& s = m_tSlots[static_cast<size_t>(slot)];
    if (!s.pRec) return nullptr;
    s.dwId = 0;
    --m_iCount;
    std::unique_ptr<T> rec = std::move(s.pRec);
    while (m_iBound > 0 && !m_tSlots[static_cast<size_t>(m_iBound - 1)].pRec) --m_iBound;
    return rec;
  }
  // Destroys every record.
  void Clear() {
    for (Slot& s : m_tSlots) {
      s.pRec.reset();
      s.dwId = 0;
    }
    m_iCount = 0;
    m_iBound = 0;
  }

 private:
  struct Slot {
    std::unique_ptr<T> pRec;
    uint32_t dwId = 0;
    uint32_t dwLastTag = 0;
  };
  std::vector<Slot> m_tSlots;
  int m_iCount = 0;
  int m_iBound = 0;
};

// ---------------------------------------------------------------------------------------------
// Receive buffer of a logical connection. Bytes are appended at the end and consumed from a read
// offset, so framing several packets out of one arrival moves nothing; the unread rest moves to
// the front only when an append needs the room.

class NPC_C_PVM_DP_RecvBuf {
 public:
  NPC_C_PVM_DP_RecvBuf() = default;
  ~NPC_C_PVM_DP_RecvBuf() { Free(); }
  NPC_C_PVM_DP_RecvBuf(const NPC_C_PVM_DP_RecvBuf&) = delete;
  NPC_C_PVM_DP_RecvBuf& operator=(const NPC_C_PVM_DP_RecvBuf&) = delete;

  // Appends n bytes; 0 when memory runs out (the content is then unchanged).
  int Append(const uint8_t* data, size_t n);
  const uint8_t* Data() const { return m_pBuf ? m_pBuf + m_qwRead : nullptr; }
  size_t Len() const { return m_qwWrite - m_qwRead; }
  // Drops the first n unread bytes (at most all of them).
  void Consume(size_t n);
  // Drops everything unread; a large block is given back so that a burst does not pin memory.
  void Clear();
  void Free();
  size_t Capacity() const { return m_qwCap; }

 private:
  uint8_t* m_pBuf = nullptr;
  size_t m_qwCap = 0;
  size_t m_qwRead = 0;
  size_t m_qwWrite = 0;
};

// ---------------------------------------------------------------------------------------------
// Base records.

// A copy of an order that waits for the device (the pending order of a camera, or the order of a
// transaction). Answering it clears the length, so it is answered once.
struct NPC_S_PVM_DP_PENDING_ORDER {
  char* pRequDataBuf = nullptr;
  int iRequDataBufSize = 0;
  int iRequDataLen = 0;

  NPC_S_PVM_DP_PENDING_ORDER() = default;
  ~NPC_S_PVM_DP_PENDING_ORDER();
  NPC_S_PVM_DP_PENDING_ORDER(const NPC_S_PVM_DP_PENDING_ORDER&) = delete;
  NPC_S_PVM_DP_PENDING_ORDER& operator=(const NPC_S_PVM_DP_PENDING_ORDER&) = delete;

  // Copies the whole order message (replacing an earlier one); 0 when memory runs out.
  int Keep(const uint8_t* msg, int len);
  bool Has() const { return iRequDataLen > 0; }
  void Clear() { iRequDataLen = 0; }
  void Free();
};

// A logical connection: a byte stream to a device that the engine carries.
struct NPC_S_PVM_DP_LOGIC_CONN_BASE : NPC_S_PVM_DP_RECORD {
  uint32_t dwLogicConnId = 0;   // the module's id (the table's); 0 once a disconnect was requested
  uint32_t dwProTcpConnId = 0;  // the engine's id, from its connect answer
  bool bProTcpConnIdKnown = false;  // the engine's id has arrived (0 is a valid engine id)
  int iLogicConnType = 0;       // module-defined kinds
  int iDevIndex = -1;           // slot of the owning device
  int iCameraIndex = 0;         // slot of the owning camera; 0 for connections of the device
  NPC_C_PVM_DP_RecvBuf tRecvBuf;
};

// A camera session on a device.
struct NPC_S_PVM_DP_CAMERA_BASE : NPC_S_PVM_DP_RECORD {
  int iCameraIndex = -1;
  int iDevIndex = -1;
  int iChNo = 0;
  int iStreamNo = 0;
  uint32_t dwCameraConnId = 0;  // the camera session's id, first body field of its orders
  int iConnState = 0;           // 0 idle, 1 connecting, 2 connected
  int iTransMode = 0;           // media transport mode
  int64_t tConnStateTime = 0;   // wall seconds of the last iConnState change
  NPC_S_PVM_DP_PENDING_ORDER tRequ;
  uint32_t dwMediaProTcpConnId = 0;  // module id of the camera's media connection, 0 when none
};

constexpr int NPC_D_PVM_DP_CAMERA_CONN_STATE_IDLE = 0;
constexpr int NPC_D_PVM_DP_CAMERA_CONN_STATE_CONNECTING = 1;
constexpr int NPC_D_PVM_DP_CAMERA_CONN_STATE_CONNECTED = 2;

// A device (one login) and its cameras.
template <typename Cam>
struct NPC_S_PVM_DP_DEV_BASE : NPC_S_PVM_DP_RECORD {
  int iDevIndex = -1;
  uint32_t dwOrderProTcpConnId = 0;  // module id of the order connection, 0 when none
  int iDevLoginState = 0;            // module-defined; 0 idle
  int64_t tLoginStateTime = 0;       // wall seconds of the last login state change
  NPC_C_PVM_DP_Table<Cam> tCameraTable;
};

// A transaction: an order waiting for a device answer that names it by id.
struct NPC_S_PVM_DP_TRANS_DATA : NPC_S_PVM_DP_RECORD {
  uint32_t dwTransId = 0;
  uint32_t dwLinkId = 0;     // the camera connection id or another link value
  int64_t tCreateTime = 0;   // wall seconds
  NPC_S_PVM_DP_PENDING_ORDER tRequ;
};

// Where a NET_TCP_CONNECT request asks the engine to connect.
struct NPC_S_PVM_DP_CONN_TARGET {
  const char* sDevId = "";    // empty for a direct connection
  const char* sDevAddr = "";
  uint16_t usDevPort = 0;
  uint8_t ucConnFlags = 0;    // NPC_F_PVM_MSG_MakeConnFlags
  uint8_t ucEfsWish = 0;
  uint16_t usConnParam = 0;
  uint16_t usConnOption = NPC_D_PVM_NET_CONN_OPTION_NORMAL;
  uint32_t dwLanFallback = 0;
};

// ---------------------------------------------------------------------------------------------
// The module base without the record types: callback, messages, transactions, scratch buffer.

class NPC_C_PVM_DP_ModuleCore : public NPC_I_PVM_DevProtocol {
 public:
  const NPC_S_PVM_DP_MODULE_DESC& Desc() const { return m_tDesc; }
  int VendorId() const { return m_iVendorId; }
  // True between a successful initialisation and the uninitialisation.
  bool Ready() const { return m_bReady; }

  // Marks one entry into the module from the engine; retired records are destroyed when the
  // outermost scope closes.
  class NPC_C_PVM_DP_OpScope {
   public:
    explicit NPC_C_PVM_DP_OpScope(NPC_C_PVM_DP_ModuleCore* m) : m_p(m) { ++m_p->m_iDepth; }
    ~NPC_C_PVM_DP_OpScope() {
      if (--m_p->m_iDepth == 0) m_p->m_tRetired.clear();
    }
    NPC_C_PVM_DP_OpScope(const NPC_C_PVM_DP_OpScope&) = delete;
    NPC_C_PVM_DP_OpScope& operator=(const NPC_C_PVM_DP_OpScope&) = delete;

   private:
    NPC_C_PVM_DP_ModuleCore* m_p;
  };

 protected:
  explicit NPC_C_PVM_DP_ModuleCore(const NPC_S_PVM_DP_MODULE_DESC& desc) : m_tDesc(desc) {}
  ~NPC_C_PVM_DP_ModuleCore();
  NPC_C_PVM_DP_ModuleCore(const NPC_C_PVM_DP_ModuleCore&) = delete;
  NPC_C_PVM_DP_ModuleCore& operator=(const NPC_C_PVM_DP_ModuleCore&) = delete;

  // Stores the vendor id, callback and user data, allocates the scratch buffer and sizes the
  // transaction table. 1, or 0 when an allocation fails (nothing is kept then).
  int CoreInit(int vendorId, NPC_F_PVM_EVENT_CALLBACK callback, void* user);
  // Frees transactions and buffers and forgets the callback: no callback after it.
  void CoreUninit();

  // Keeps a record that was taken out of its table alive until the current operation ends (or
  // destroys it at once outside any operation).
  void Retire(std::unique_ptr<NPC_S_PVM_DP_RECORD> rec);

  // --- Upward and to the engine ---
  // Hands one message to the callback with the module's vendor id; 0 without a callback.
  int SendEvent(int eventKind, uint8_t* msg, int len);
  int SendNetMsg(uint8_t* msg, int len) { return SendEvent(NPC_D_PVM_EVENT_TYPE_NET_DATA, msg, len); }
  int SendOrderUp(uint8_t* msg, int len) { return SendEvent(NPC_D_PVM_EVENT_TYPE_ORDER_DATA, msg, len); }
  // Answers an order in place: kind response, iResult, then up. 0 for a malformed order.
  int AnswerOrder(uint8_t* msg, int len, int32_t iResult);
  // Answers a kept order with iResult and clears it; 0 when nothing was kept.
  int AnswerPending(NPC_S_PVM_DP_PENDING_ORDER* requ, int32_t iResult);
  // ORDER_NOTIFY_DISCONNECT for a camera.
  int SendNotifyDisconnect(uint32_t dwCameraConnId, int32_t iCause, const char* sCauseText);

  // --- Network messages to the engine ---
  int SendNetTcpConnect(const NPC_S_PVM_DP_CONN_TARGET& target, uint32_t dwLogicConnId);
  int SendNetTcpDisconnect(uint32_t dwLogicConnId, uint32_t dwProTcpConnId);
  int SendNetReqClearCache(uint32_t dwLogicConnId, uint32_t dwProTcpConnId);
  int SendNetSwitchMediaTransMode(uint32_t dwLogicConnId, uint32_t dwProTcpConnId, int32_t iMode);
  // NET_SEND_DATA without an extra copy: BeginNetSendData gives room for n payload bytes inside
  // the module's send buffer (null when memory runs out); the module writes its packet there and
  // EndNetSendData fills the head and hands the message over. The room is valid until the next
  // Begin.
  uint8_t* BeginNetSendData(size_t n);
  int EndNetSendData(uint32_t dwLogicConnId, uint32_t dwProTcpConnId, int32_t iDataType, size_t n);
  int SendNetSendData(uint32_t dwLogicConnId, uint32_t dwProTcpConnId, int32_t iDataType, const void* data,
                      size_t n);

  // --- Transactions ---
  // A transaction holding a copy of the order (may be null with len 0); null when the table is
  // full, the module keeps no transactions, or memory runs out.
  NPC_S_PVM_DP_TRANS_DATA* CreateTrans(uint32_t dwLinkId, const uint8_t* msg, int len, int64_t now);
  NPC_S_PVM_DP_TRANS_DATA* QueryTrans(uint32_t dwTransId) const { return m_tTransTable.Query(dwTransId); }
  void DeleteTrans(uint32_t dwTransId);
  // At most once per wall second (the first call in a new second): frees without an answer every
  // transaction older than the descriptor's expiry. Returns the number freed.
  int SweepTrans(int64_t now);
  int TransCount() const { return m_tTransTable.Count(); }

  // --- Scratch ---
  uint8_t* Scratch() const { return m_pScratch; }
  int ScratchLen() const { return m_pScratch ? m_tDesc.iScratchLen : 0; }

  NPC_S_PVM_DP_MODULE_DESC m_tDesc;
  int m_iVendorId = 0;
  NPC_F_PVM_EVENT_CALLBACK m_pCallback = nullptr;
  void* m_pUser = nullptr;
  bool m_bReady = false;

 private:
  friend class NPC_C_PVM_DP_OpScope;
  int m_iDepth = 0;
  std::vector<std::unique_ptr<NPC_S_PVM_DP_RECORD>> m_tRetired;
  uint8_t* m_pScratch = nullptr;
  NPC_C_PVM_DP_Table<NPC_S_PVM_DP_TRANS_DATA> m_tTransTable;
  int64_t m_tLastSweep = 0;
  std::vector<uint8_t> m_tSendBuf;  // NET_SEND_DATA under construction
  std::vector<uint8_t> m_tMsgBuf;   // notices under construction
};

// ---------------------------------------------------------------------------------------------
// The module base with the record types: the logical-connection and device tables and the
// lookups every module needs. Conn derives from NPC_S_PVM_DP_LOGIC_CONN_BASE, Cam from
// NPC_S_PVM_DP_CAMERA_BASE and Dev from NPC_S_PVM_DP_DEV_BASE<Cam>.

template <typename Conn, typename Dev, typename Cam>
class NPC_C_PVM_DP_ModuleBase : public NPC_C_PVM_DP_ModuleCore {
 protected:
  explicit NPC_C_PVM_DP_ModuleBase(const NPC_S_PVM_DP_MODULE_DESC& desc) : NPC_C_PVM_DP_ModuleCore(desc) {}
  ~NPC_C_PVM_DP_ModuleBase() = default;

  // CoreInit plus the two tables.
  int BaseInit(int vendorId, NPC_F_PVM_EVENT_CALLBACK callback, void* user) {
    if (!m_tConnTable.Init(m_tDesc.iLogicConnNum) || !m_tDevTable.Init(m_tDesc.iDevNum)) {
      m_tConnTable.Clear();
      m_tDevTable.Clear();
      return 0;
    }
    return CoreInit(vendorId, callback, user);
  }
  // Destroys whatever the tables still hold (the module closes what it must before) and frees
  // the rest.
  void BaseUninit() {
    m_tConnTable.Clear();
    m_tDevTable.Clear();
    CoreUninit();
  }

  // --- Logical connections ---
  Conn* CreateConn(int iType, int iDevIndex, int iCameraIndex) {
    uint32_t id = 0;
    Conn* c = m_tConnTable.Create(&id);
    if (!c) return nullptr;
    c->dwLogicConnId = id;
    c->iLogicConnType = iType;
    c->iDevIndex = iDevIndex;
    c->iCameraIndex = iCameraIndex;
    return c;
  }
  Conn* QueryConn(uint32_t dwLogicConnId) const { return m_tConnTable.Query(dwLogicConnId); }
  // Frees a connection record; with bTellEngine, sends NET_TCP_DISCONNECT first when the engine's
  // id is known. (A connection freed before the engine's id arrived is closed when that id comes:
  // an answer for a connection the module no longer has is disconnected at once.) The record,
  // receive buffer included, stays readable until the operation ends.
  void FreeConn(Conn* c, bool bTellEngine) {
    if (!c || c->dwLogicConnId == 0) return;
    int slot = NPC_F_PVM_DP_IdSlot(c->dwLogicConnId);
    if (m_tConnTable.At(slot) != c) return;
    if (bTellEngine && c->bProTcpConnIdKnown) SendNetTcpDisconnect(c->dwLogicConnId, c->dwProTcpConnId);
    c->dwLogicConnId = 0;
    Retire(m_tConnTable.Take(slot));
  }
  // Calls f(conn) for every connection in slot order; f may free the connection it is given.
  template <typename F>
  void ForEachConn(F f) {
    for (int i = 0; i < m_tConnTable.Bound(); ++i) {
      if (Conn* c = m_tConnTable.At(i)) f(c);
    }
  }

  // --- Devices and cameras ---
  Dev* CreateDev() {
    int slot = -1;
    Dev* d = m_tDevTable.Create(nullptr, &slot);
    if (!d) return nullptr;
    d->iDevIndex = slot;
    if (!d->tCameraTable.Init(m_tDesc.iCameraNum)) {
      Retire(m_tDevTable.Take(slot));
      return nullptr;
    }
    return d;
  }
  Dev* DevAt(int slot) const { return m_tDevTable.At(slot); }
  // Takes a device out of the table (the module has closed its connections and cameras).
  void ReleaseDev(Dev* d) {
    if (d && m_tDevTable.At(d->iDevIndex) == d) Retire(m_tDevTable.Take(d->iDevIndex));
  }
  Cam* CreateCamera(Dev* d) {
    int slot = -1;
    Cam* c = d->tCameraTable.Create(nullptr, &slot);
    if (!c) return nullptr;
    c->iCameraIndex = slot;
    c->iDevIndex = d->iDevIndex;
    return c;
  }
  void ReleaseCamera(Dev* d, Cam* c) {
    if (d && c && d->tCameraTable.At(c->iCameraIndex) == c) Retire(d->tCameraTable.Take(c->iCameraIndex));
  }
  // The camera of a camera connection id in any device (the device through outDev), or null.
  Cam* FindCamera(uint32_t dwCameraConnId, Dev** outDev = nullptr) const {
    for (int i = 0; i < m_tDevTable.Bound(); ++i) {
      Dev* d = m_tDevTable.At(i);
      if (!d) continue;
      for (int k = 0; k < d->tCameraTable.Bound(); ++k) {
        Cam* c = d->tCameraTable.At(k);
        if (c && c->dwCameraConnId == dwCameraConnId) {
          if (outDev) *outDev = d;
          return c;
        }
      }
    }
    return nullptr;
  }
  // Calls f(dev) for every device in slot order; f may release the device it is given.
  template <typename F>
  void ForEachDev(F f) {
    for (int i = 0; i < m_tDevTable.Bound(); ++i) {
      if (Dev* d = m_tDevTable.At(i)) f(d);
    }
  }
  // Calls f(cam) for every camera of a device in slot order; f may release the camera.
  template <typename F>
  static void ForEachCamera(Dev* d, F f) {
    for (int i = 0; i < d->tCameraTable.Bound(); ++i) {
      if (Cam* c = d->tCameraTable.At(i)) f(c);
    }
  }
  // Whether a device record is still the one in its slot (it may have been released by a
  // handler further down).
  bool DevAlive(const Dev* d) const { return d && m_tDevTable.At(d->iDevIndex) == d; }
  bool ConnAlive(const Conn* c) const {
    return c && c->dwLogicConnId != 0 && m_tConnTable.Query(c->dwLogicConnId) == c;
  }
  int DevCount() const { return m_tDevTable.Count(); }
  int ConnCount() const { return m_tConnTable.Count(); }

  NPC_C_PVM_DP_Table<Conn> m_tConnTable;
  NPC_C_PVM_DP_Table<Dev> m_tDevTable;
};

#endif
