// The module skeleton shared by the device protocol modules: ids of reused slots, the receive
// buffer with its read offset, the transaction table and its sweep, records retired while an
// operation runs, and the messages the base hands to the callback.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "bus/pvm_msg.h"
#include "protocols/common/module_base.h"
#include "runtime/random.h"
#include "test_support.h"

namespace {

struct Rec : NPC_S_PVM_DP_RECORD {
  int value = 0;
};

TEST(ModuleTable, ReusedSlotGetsAFreshNonZeroId) {
  NPC_C_PVM_DP_Table<Rec> t;
  ASSERT_EQ(t.Init(4), 1);
  NPC_F_SYS_RANDOM_Seed(12345);
  std::set<uint32_t> seen;
  uint32_t prev = 0;
  for (int i = 0; i < 5000; ++i) {
    uint32_t id = 0;
    int slot = -1;
    ASSERT_NE(t.Create(&id, &slot), nullptr);
    ASSERT_EQ(slot, 0);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, prev);                      // never the slot's previous id
    EXPECT_EQ(id & 0xFFFFu, 0u);              // the slot in the low bits
    EXPECT_EQ(id & 0x80000000u, 0u);          // never negative as an i32
    EXPECT_EQ(t.Query(prev), nullptr);        // the stale id of the reused slot is refused
    EXPECT_NE(t.Query(id), nullptr);
    seen.insert(id);
    prev = id;
    t.Take(0);
  }
  EXPECT_GT(seen.size(), 4000u);  // the tags are spread, not cycling through a few values
}

TEST(ModuleTable, LookupsRefuseWhatIsNotThere) {
  NPC_C_PVM_DP_Table<Rec> t;
  ASSERT_EQ(t.Init(2), 1);
  uint32_t a = 0, b = 0;
  Rec* ra = t.Create(&a);
  Rec* rb = t.Create(&b);
  ASSERT_TRUE(ra && rb);
  EXPECT_EQ(t.Create(), nullptr);  // full
  EXPECT_TRUE(t.Full());
  EXPECT_EQ(t.Query(0), nullptr);
  EXPECT_EQ(t.Query((a & 0xFFFF0000u) | 2), nullptr);  // slot outside the table
  EXPECT_EQ(t.Query(a ^ 0x00010000u), nullptr);         // same slot, other tag
  EXPECT_EQ(t.Query(a), ra);
  EXPECT_EQ(t.At(1), rb);
  EXPECT_EQ(t.At(2), nullptr);
  EXPECT_EQ(t.At(-1), nullptr);
  auto taken = t.Take(0);
  EXPECT_EQ(taken.get(), ra);
  EXPECT_EQ(t.Take(0), nullptr);
  EXPECT_EQ(t.Count(), 1);
  EXPECT_EQ(t.Init(0), 0);
  EXPECT_EQ(t.Init(0x10001), 0);
}

// The bound is one past the highest slot in use, after every create and take: the loops over
// the records stop there and still visit every record.
TEST(ModuleTable, BoundFollowsTheHighestSlotInUse) {
  NPC_C_PVM_DP_Table<Rec> t;
  ASSERT_EQ(t.Init(8), 1);
  EXPECT_EQ(t.Bound(), 0);
  struct Step {
    bool create;  // create (first free slot) or take the slot
    int slot;
    int bound;    // expected afterwards
  };
  const Step steps[] = {
      {true, 0, 1}, {true, 1, 2}, {true, 2, 3}, {true, 3, 4},  // slots 0..3
      {false, 1, 4},                                           // a hole below the top
      {false, 3, 3},                                           // the top: down to slot 2
      {true, 1, 3},                                            // the hole is filled first
      {false, 2, 2}, {false, 0, 2},                            // down to slot 1
      {false, 1, 0},                                           // empty
      {true, 0, 1},
  };
  for (const Step& s : steps) {
    if (s.create) {
      int slot = -1;
      ASSERT_NE(t.Create(nullptr, &slot), nullptr);
      EXPECT_EQ(slot, s.slot);
    } else {
      ASSERT_NE(t.Take(s.slot), nullptr);
    }
    EXPECT_EQ(t.Bound(), s.bound) << (s.create ? "create " : "take ") << s.slot;
    for (int i = t.Bound(); i < t.Size(); ++i) EXPECT_EQ(t.At(i), nullptr) << i;
    if (t.Bound() > 0) {
      EXPECT_NE(t.At(t.Bound() - 1), nullptr);
    }
  }
  EXPECT_EQ(t.Take(7), nullptr);  // an empty slot changes nothing
  EXPECT_EQ(t.Bound(), 1);
  while (t.Create()) {
  }
  EXPECT_EQ(t.Bound(), 8);
  t.Clear();
  EXPECT_EQ(t.Bound(), 0);
  ASSERT_NE(t.Create(), nullptr);
  ASSERT_EQ(t.Init(4), 1);  // sizing again empties the table
  EXPECT_EQ(t.Bound(), 0);
}

// The read offset: framing several packets out of one arrival moves nothing; the unread rest is
// kept whole across growth and compaction.
TEST(ModuleRecvBuf, ReadOffsetGrowthAndCompaction) {
  NPC_C_PVM_DP_RecvBuf b;
  std::vector<uint8_t> data(40000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(b.Append(data.data(), 3000), 1);
  const uint8_t* first = b.Data();
  b.Consume(1000);
  EXPECT_EQ(b.Data(), first + 1000);  // consuming only moves the offset
  EXPECT_EQ(b.Len(), 2000u);
  // Appending beyond the capacity compacts or grows; the unread bytes stay in order.
  ASSERT_EQ(b.Append(data.data() + 3000, 7000), 1);
  ASSERT_EQ(b.Len(), 9000u);
  EXPECT_EQ(memcmp(b.Data(), data.data() + 1000, 9000), 0);
  // Compaction without growth: room at the front is enough.
  size_t cap = b.Capacity();
  b.Consume(b.Len() - 10);
  ASSERT_EQ(b.Append(data.data(), cap - 20), 1);
  EXPECT_EQ(b.Capacity(), cap);
  EXPECT_EQ(memcmp(b.Data(), data.data() + 9990, 10), 0);
  EXPECT_EQ(memcmp(b.Data() + 10, data.data(), cap - 20), 0);
  b.Consume(b.Len() + 5);
  EXPECT_EQ(b.Len(), 0u);
  EXPECT_EQ(b.Append(nullptr, 4), 0);
  EXPECT_EQ(b.Append(nullptr, 0), 1);
  // A large buffer is given back when emptied; a small one is kept.
  std::vector<uint8_t> big(1 << 20);
  ASSERT_EQ(b.Append(big.data(), big.size()), 1);
  b.Clear();
  EXPECT_EQ(b.Capacity(), 0u);
  ASSERT_EQ(b.Append(data.data(), 100), 1);
  b.Clear();
  EXPECT_GT(b.Capacity(), 0u);
}

// ---------------------------------------------------------------------------------------------
// A minimal module on the skeleton.

struct TConn : NPC_S_PVM_DP_LOGIC_CONN_BASE {};
struct TCam : NPC_S_PVM_DP_CAMERA_BASE {};
struct TDev : NPC_S_PVM_DP_DEV_BASE<TCam> {};

const NPC_S_PVM_DP_MODULE_DESC kDesc = {4242, "TEST", 0, 8, 4, 2, 16, 119, 4096};

class TestModule final : public NPC_C_PVM_DP_ModuleBase<TConn, TDev, TCam> {
 public:
  TestModule() : NPC_C_PVM_DP_ModuleBase(kDesc) {}
  ~TestModule() { NPC_F_PVM_UninitDevProtocolModule(); }
  int NPC_F_PVM_InitDevProtocolModule(int vendorId, NPC_F_PVM_EVENT_CALLBACK cb, void* user) override {
    return BaseInit(vendorId, cb, user);
  }
  void NPC_F_PVM_UninitDevProtocolModule() override {
    if (Ready()) BaseUninit();
  }
  int NPC_F_PVM_InputNetData(unsigned char*, int) override { return 0; }
  int NPC_F_PVM_InputUpOrderData(unsigned char* msg, int len) override {
    NPC_C_PVM_DP_OpScope scope(this);
    return AnswerOrder(msg, len, 7);
  }
  int NPC_F_PVM_Timer() override { return 0; }

  using NPC_C_PVM_DP_ModuleBase::CreateCamera;
  using NPC_C_PVM_DP_ModuleBase::CreateConn;
  using NPC_C_PVM_DP_ModuleBase::CreateDev;
  using NPC_C_PVM_DP_ModuleBase::CreateTrans;
  using NPC_C_PVM_DP_ModuleBase::DevAt;
  using NPC_C_PVM_DP_ModuleBase::FindCamera;
  using NPC_C_PVM_DP_ModuleBase::ForEachCamera;
  using NPC_C_PVM_DP_ModuleBase::ForEachConn;
  using NPC_C_PVM_DP_ModuleBase::ForEachDev;
  using NPC_C_PVM_DP_ModuleBase::FreeConn;
  using NPC_C_PVM_DP_ModuleBase::QueryConn;
  using NPC_C_PVM_DP_ModuleBase::QueryTrans;
  using NPC_C_PVM_DP_ModuleBase::ReleaseCamera;
  using NPC_C_PVM_DP_ModuleBase::ReleaseDev;
  using NPC_C_PVM_DP_ModuleBase::Scratch;
  using NPC_C_PVM_DP_ModuleBase::ScratchLen;
  using NPC_C_PVM_DP_ModuleBase::SendNetSendData;
  using NPC_C_PVM_DP_ModuleBase::SendNetTcpConnect;
  using NPC_C_PVM_DP_ModuleBase::SendNotifyDisconnect;
  using NPC_C_PVM_DP_ModuleBase::SweepTrans;
  using NPC_C_PVM_DP_ModuleBase::TransCount;
  using OpScope = NPC_C_PVM_DP_ModuleCore::NPC_C_PVM_DP_OpScope;
};

struct Sink {
  static void cb(void* user, int kind, unsigned int vendor, unsigned char* msg, int len) {
    auto* s = static_cast<Sink*>(user);
    s->kinds.push_back(kind);
    s->vendors.push_back(vendor);
    s->msgs.emplace_back(msg, msg + len);
  }
  std::vector<int> kinds;
  std::vector<unsigned int> vendors;
  std::vector<std::vector<uint8_t>> msgs;
};

TEST(ModuleBase, TablesSizedByTheDescriptor) {
  TestModule m;
  Sink s;
  ASSERT_EQ(m.NPC_F_PVM_InitDevProtocolModule(4242, &Sink::cb, &s), 1);
  EXPECT_EQ(m.ScratchLen(), 4096);
  ASSERT_NE(m.Scratch(), nullptr);
  TestModule::OpScope scope(&m);
  for (int i = 0; i < 8; ++i) EXPECT_NE(m.CreateConn(1, 0, 0), nullptr);
  EXPECT_EQ(m.CreateConn(1, 0, 0), nullptr);
  for (int i = 0; i < 4; ++i) EXPECT_NE(m.CreateDev(), nullptr);
  EXPECT_EQ(m.CreateDev(), nullptr);
}

// A record freed inside an operation stays readable until the operation ends, while its table
// no longer knows it.
TEST(ModuleBase, RecordsFreedDuringAnOperationLiveUntilItEnds) {
  TestModule m;
  Sink s;
  ASSERT_EQ(m.NPC_F_PVM_InitDevProtocolModule(4242, &Sink::cb, &s), 1);
  TConn* c = nullptr;
  uint32_t id = 0;
  {
    TestModule::OpScope outer(&m);
    c = m.CreateConn(1, 0, 0);
    id = c->dwLogicConnId;
    uint8_t bytes[100] = {1};
    ASSERT_EQ(c->tRecvBuf.Append(bytes, sizeof bytes), 1);
    const uint8_t* inside = c->tRecvBuf.Data();
    {
      TestModule::OpScope inner(&m);
      m.FreeConn(c, false);
    }
    EXPECT_EQ(m.QueryConn(id), nullptr);
    EXPECT_EQ(inside[0], 1);  // still readable (ASan would catch a read of freed memory)
    EXPECT_EQ(c->iLogicConnType, 1);
  }
  EXPECT_EQ(m.QueryConn(id), nullptr);
}

TEST(ModuleBase, TransactionSweepOncePerSecond) {
  korven_test::FakeClock clock(1000, 1700000000);
  TestModule m;
  Sink s;
  ASSERT_EQ(m.NPC_F_PVM_InitDevProtocolModule(4242, &Sink::cb, &s), 1);
  TestModule::OpScope scope(&m);
  uint8_t order[28] = {};
  auto* t1 = m.CreateTrans(1, order, sizeof order, 1000);
  auto* t2 = m.CreateTrans(2, nullptr, 0, 1001);
  ASSERT_TRUE(t1 && t2);
  EXPECT_NE(t1->dwTransId, t2->dwTransId);
  EXPECT_TRUE(t1->tRequ.Has());
  EXPECT_FALSE(t2->tRequ.Has());
  EXPECT_EQ(m.SweepTrans(1119), 0);  // 119 seconds old: kept
  EXPECT_EQ(m.SweepTrans(1120), 1);  // 120: freed
  EXPECT_EQ(m.SweepTrans(1121), 1);
  EXPECT_EQ(m.TransCount(), 0);
  auto* t3 = m.CreateTrans(3, nullptr, 0, 1000);
  EXPECT_EQ(m.SweepTrans(1121), 0);  // the same second does not sweep twice
  EXPECT_NE(m.QueryTrans(t3->dwTransId), nullptr);
  for (int i = 0; i < 15; ++i) m.CreateTrans(9, nullptr, 0, 1121);
  EXPECT_EQ(m.CreateTrans(9, nullptr, 0, 1121), nullptr);  // 16 slots
}

TEST(ModuleBase, MessagesToTheCallback) {
  TestModule m;
  Sink s;
  ASSERT_EQ(m.NPC_F_PVM_InitDevProtocolModule(4242, &Sink::cb, &s), 1);
  TestModule::OpScope scope(&m);
  NPC_S_PVM_DP_CONN_TARGET t;
  t.sDevId = "A-DEVICE-ID-THAT-IS-LONGER-THAN-THIRTY-TWO";
  t.sDevAddr = "host.example";
  t.usDevPort = 9000;
  t.ucConnFlags = NPC_F_PVM_MSG_MakeConnFlags(2, true, 3);
  ASSERT_EQ(m.SendNetTcpConnect(t, 0x1230004), 1);
  uint8_t payload[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(m.SendNetSendData(0x1230004, 77, 1, payload, sizeof payload), 1);
  ASSERT_EQ(m.SendNotifyDisconnect(0x10002, 200, "命令通道断开连接"), 1);
  std::vector<uint8_t> order;
  uint32_t cam = 9;
  NPC_F_PVM_MSG_BuildRequest(&order, ORDER_PTZ, 31, 4242, &cam, sizeof cam);
  m.NPC_F_PVM_InputUpOrderData(order.data(), static_cast<int>(order.size()));
  ASSERT_EQ(s.msgs.size(), 4u);
  EXPECT_EQ(s.kinds, (std::vector<int>{0, 0, 1, 1}));
  for (unsigned v : s.vendors) EXPECT_EQ(v, 4242u);

  NPC_S_PVM_NET_MSG_VIEW nv;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadNetMsg(s.msgs[0].data(), s.msgs[0].size(), &nv), 1);
  NPC_S_PVM_NET_MSG_TCP_CONNECT c;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadNetFixed(nv, &c), 1);
  EXPECT_EQ(c.tHead.iMsgId, NET_TCP_CONNECT);
  EXPECT_EQ(c.tHead.iMsgType, NPC_D_PVM_NET_MSG_TYPE_REQUEST);
  EXPECT_EQ(c.tHead.iBodyLen, 324);
  EXPECT_EQ(std::string(c.sDevId), std::string(t.sDevId, 31));
  EXPECT_STREQ(c.sDevIpaddr, "host.example");
  EXPECT_EQ(c.usDevPort, 9000);
  EXPECT_EQ(c.dwProtConnId, 0x1230004u);
  EXPECT_EQ(c.ucConnFlags, 0x3A);

  ASSERT_EQ(NPC_F_PVM_MSG_ReadNetMsg(s.msgs[1].data(), s.msgs[1].size(), &nv), 1);
  NPC_S_PVM_NET_DATA_VIEW d;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadNetSendData(nv, &d), 1);
  EXPECT_EQ(d.dwProtConnId, 0x1230004u);
  EXPECT_EQ(d.dwLogicTcpConnId, 77u);
  EXPECT_EQ(d.iDataType, 1);
  EXPECT_EQ(d.iDataLenField, 5);
  EXPECT_EQ(std::vector<uint8_t>(d.pData, d.pData + d.iDataLen), std::vector<uint8_t>(payload, payload + 5));

  NPC_S_PVM_ORDER_MSG_VIEW ov;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadOrderMsg(s.msgs[2].data(), s.msgs[2].size(), &ov), 1);
  NPC_S_PVM_ORDER_BODY_NOTIFY_DISCONNECT n;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadOrderBodyExact(ov, &n), 1);
  EXPECT_EQ(ov.tHead.iMsgId, ORDER_NOTIFY_DISCONNECT);
  EXPECT_EQ(ov.tHead.dwTransId, 0u);
  EXPECT_EQ(n.dwCameraConnId, 0x10002u);
  EXPECT_EQ(n.iCause, 200);
  EXPECT_STREQ(n.sCauseText, "命令通道断开连接");

  ASSERT_EQ(NPC_F_PVM_MSG_ReadOrderMsg(s.msgs[3].data(), s.msgs[3].size(), &ov), 1);
  EXPECT_EQ(ov.tHead.iMsgType, NPC_D_PVM_ORDER_MSG_TYPE_RESPONSE);
  EXPECT_EQ(ov.tHead.dwTransId, 31u);
  EXPECT_EQ(ov.tHead.iResult, 7);

  // After uninitialisation nothing reaches the callback.
  m.NPC_F_PVM_UninitDevProtocolModule();
  EXPECT_EQ(m.SendNotifyDisconnect(1, 1, "x"), 0);
  EXPECT_EQ(s.msgs.size(), 4u);
}

TEST(ModuleBase, CamerasAreFoundByTheirConnectionId) {
  TestModule m;
  Sink s;
  ASSERT_EQ(m.NPC_F_PVM_InitDevProtocolModule(4242, &Sink::cb, &s), 1);
  TestModule::OpScope scope(&m);
  TDev* d0 = m.CreateDev();
  TDev* d1 = m.CreateDev();
  TCam* a = m.CreateCamera(d0);
  TCam* b = m.CreateCamera(d1);
  TCam* c = m.CreateCamera(d1);
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(m.CreateCamera(d1), nullptr);  // two camera slots per device
  a->dwCameraConnId = 0x10000;
  b->dwCameraConnId = 0x20001;
  c->dwCameraConnId = 0x30001;
  TDev* found = nullptr;
  EXPECT_EQ(m.FindCamera(0x30001, &found), c);
  EXPECT_EQ(found, d1);
  EXPECT_EQ(c->iDevIndex, d1->iDevIndex);
  EXPECT_EQ(c->iCameraIndex, 1);
  EXPECT_EQ(m.FindCamera(0x30002), nullptr);
  m.ReleaseDev(d1);
  EXPECT_EQ(m.FindCamera(0x30001), nullptr);
}

// The walks over connections, devices and cameras stop at the tables' bounds and still visit
// every record: across holes, after the top record went, and a record that the visit itself
// creates in a higher slot.
TEST(ModuleBase, WalksVisitEveryRecordUpToTheBound) {
  TestModule m;
  Sink s;
  ASSERT_EQ(m.NPC_F_PVM_InitDevProtocolModule(4242, &Sink::cb, &s), 1);
  TestModule::OpScope scope(&m);
  TDev* d[3] = {m.CreateDev(), m.CreateDev(), m.CreateDev()};
  ASSERT_TRUE(d[0] && d[1] && d[2]);
  m.ReleaseDev(d[1]);  // a hole at slot 1
  std::vector<int> seen;
  bool created = false;
  m.ForEachDev([&](TDev* x) {
    seen.push_back(x->iDevIndex);
    if (x->iDevIndex == 2 && !created) {
      created = true;
      m.CreateDev();  // takes the hole (slot 1, already passed): not visited
      m.CreateDev();  // slot 3, above the bound when the walk began: visited
    }
  });
  EXPECT_EQ(seen, (std::vector<int>{0, 2, 3}));
  seen.clear();
  m.ReleaseDev(m.DevAt(3));
  m.ForEachDev([&](TDev* x) { seen.push_back(x->iDevIndex); });
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));

  TCam* a = m.CreateCamera(d[0]);
  TCam* b = m.CreateCamera(d[0]);
  ASSERT_TRUE(a && b);
  m.ReleaseCamera(d[0], a);
  seen.clear();
  TestModule::ForEachCamera(d[0], [&](TCam* c) { seen.push_back(c->iCameraIndex); });
  EXPECT_EQ(seen, (std::vector<int>{1}));
  m.ReleaseCamera(d[0], b);
  seen.clear();
  TestModule::ForEachCamera(d[0], [&](TCam* c) { seen.push_back(c->iCameraIndex); });
  EXPECT_TRUE(seen.empty());

  TConn* c0 = m.CreateConn(1, 0, 0);
  TConn* c1 = m.CreateConn(1, 0, 0);
  ASSERT_TRUE(c0 && c1);
  int conns = 0;
  m.ForEachConn([&](TConn* c) {
    ++conns;
    m.FreeConn(c, false);  // a walk may free the record it is given
  });
  EXPECT_EQ(conns, 2);
  conns = 0;
  m.ForEachConn([&](TConn*) { ++conns; });
  EXPECT_EQ(conns, 0);
}

}  // namespace
