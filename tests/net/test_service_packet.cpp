// Service packets: building, the framing rules (flag, size bounds, body inside the packet),
// packets split over many reads or merged into one, scrambled packets, and the function id table.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "net/packet_ed.h"
#include "net/service_packet.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes packet(uint32_t func, uint32_t trans, const Bytes& body, bool scramble = false, uint16_t type = 0) {
  NPC_S_SMP_COM_PACKET_HEAD h{};
  h.usVersion = NPC_D_SMP_COM_VERSION;
  h.usPacketType = type;
  h.dwFuncId = func;
  h.dwTransId = trans;
  h.dwSeqNo = 77;
  h.iResult = -3;
  Bytes out;
  EXPECT_TRUE(NPC_F_SMP_COM_BuildPacket(&out, h, body.data(), static_cast<uint32_t>(body.size()), scramble));
  return out;
}

void put32(Bytes& b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(ServicePacket, BuildWritesTheWireLayout) {
  Bytes p = packet(0x30160, 0x80000102, {1, 2, 3});
  const uint8_t expect[] = {0xFF, 0xFF, 0xFF, 0xFF, 43, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   // frame head
                            0x00, 0x01, 0, 0, 0x60, 0x01, 0x03, 0x00, 0x02, 0x01, 0, 0x80,  // version .. trans
                            77, 0, 0, 0, 0xFD, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 1, 2, 3};
  ASSERT_EQ(sizeof expect, p.size());
  EXPECT_EQ(0, memcmp(expect, p.data(), p.size()));
  NPC_S_SMP_COM_PACKET_HEAD h;
  ASSERT_TRUE(NPC_F_SMP_COM_ReadPacketHead(p.data() + 16, p.size() - 16, &h));
  EXPECT_EQ(0x30160u, h.dwFuncId);
  EXPECT_EQ(-3, h.iResult);
  EXPECT_FALSE(NPC_F_SMP_COM_ReadPacketHead(p.data() + 16, 23, &h));
}

TEST(ServicePacket, FrameChecks) {
  struct Case {
    const char* what;
    uint32_t flag;
    uint32_t size;
    size_t have;
    int expect;
  } cases[] = {
      {"fewer than 16 bytes", 0xFFFFFFFF, 40, 15, NPC_D_SMP_COM_FRAME_NEED_MORE},
      {"bad flag", 0xFFFFFFFE, 40, 40, NPC_D_SMP_COM_FRAME_BAD_FLAG},
      {"bad flag before the whole head", 0x00000000, 40, 16, NPC_D_SMP_COM_FRAME_BAD_FLAG},
      {"size 0", 0xFFFFFFFF, 0, 16, NPC_D_SMP_COM_FRAME_BAD_SIZE},
      {"size 39", 0xFFFFFFFF, 39, 40, NPC_D_SMP_COM_FRAME_BAD_SIZE},
      {"size 40, partial", 0xFFFFFFFF, 40, 39, NPC_D_SMP_COM_FRAME_NEED_MORE},
      {"size 40", 0xFFFFFFFF, 40, 40, NPC_D_SMP_COM_FRAME_OK},
      {"20 MiB, partial", 0xFFFFFFFF, 20971520, 64, NPC_D_SMP_COM_FRAME_NEED_MORE},
      {"over 20 MiB", 0xFFFFFFFF, 20971521, 16, NPC_D_SMP_COM_FRAME_TOO_LARGE},
      {"4 GiB", 0xFFFFFFFF, 0xFFFFFFFF, 16, NPC_D_SMP_COM_FRAME_TOO_LARGE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes b(64, 0);
    put32(b, 0, c.flag);
    put32(b, 4, c.size);
    uint32_t size = 0;
    EXPECT_EQ(c.expect, NPC_F_SMP_COM_CheckFrame(b.data(), c.have, &size));
    if (c.expect == NPC_D_SMP_COM_FRAME_OK) {
      EXPECT_EQ(c.size, size);
    }
  }
}

TEST(ServicePacket, BodyLongerThanThePacketIsAFramingError) {
  for (bool scramble : {false, true}) {
    Bytes p = packet(5, 0, {9, 9});
    put32(p, 36, 3);
    if (scramble) {
      p[12] = 2;
      NPC_F_COM_PACKET_Encode(p.data() + 16, static_cast<int>(p.size() - 16));
    }
    NPC_S_SMP_COM_FRAMER f;
    NPC_F_SMP_COM_FRAMER_Append(&f, p.data(), p.size());
    uint8_t* got = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(NPC_D_SMP_COM_FRAME_BAD_BODY, NPC_F_SMP_COM_FRAMER_Next(&f, &got, &size));
  }
}

TEST(ServicePacket, FramerHandsOutSplitAndMergedPacketsOnce) {
  Bytes a = packet(0x30160, 0x80000001, Bytes(300, 0xAB));
  Bytes b = packet(1, 0, {});
  Bytes c = packet(0x40102, 5, Bytes(5000, 0x11), true);
  Bytes stream;
  for (const Bytes* p : {&a, &b, &c}) stream.insert(stream.end(), p->begin(), p->end());

  for (size_t piece : {size_t{1}, size_t{7}, size_t{40}, size_t{4096}, stream.size()}) {
    SCOPED_TRACE(piece);
    NPC_S_SMP_COM_FRAMER f;
    std::vector<std::pair<uint32_t, uint32_t>> seen;  // function id, body length
    for (size_t off = 0; off < stream.size(); off += piece) {
      NPC_F_SMP_COM_FRAMER_Append(&f, stream.data() + off, std::min(piece, stream.size() - off));
      uint8_t* p = nullptr;
      uint32_t size = 0;
      int rc;
      while ((rc = NPC_F_SMP_COM_FRAMER_Next(&f, &p, &size)) == NPC_D_SMP_COM_FRAME_OK) {
        NPC_S_SMP_COM_PACKET_HEAD h;
        ASSERT_TRUE(NPC_F_SMP_COM_ReadPacketHead(p + 16, size - 16, &h));
        seen.emplace_back(h.dwFuncId, h.dwBodyLen);
        if (h.dwFuncId == 0x40102) {
          EXPECT_EQ(0x11, p[40]) << "the scrambled packet is opened";
          EXPECT_EQ(0x11, p[size - 1]);
        }
      }
      ASSERT_EQ(NPC_D_SMP_COM_FRAME_NEED_MORE, rc);
    }
    std::vector<std::pair<uint32_t, uint32_t>> want = {{0x30160, 300}, {1, 0}, {0x40102, 5000}};
    EXPECT_EQ(want, seen);
    EXPECT_EQ(0u, NPC_F_SMP_COM_FRAMER_Buffered(&f));
  }
}

TEST(ServicePacket, FunctionIdTable) {
  struct {
    uint32_t id;
    const char* name;
  } cases[] = {{0x000001, "GCOM_HEARTBEAT"},        {0x120103, "STCP_SEND_DATA"},
               {0x160101, "TRSP_HMA_SETUP_TCP_CONNECT"}, {0x030160, "MONA_UDMK_USER_LOGIN"},
               {0x03820f, "MONA_QUERY_DEV_LIST_V3"}, {0x040102, "NSPB_MEDIA_DATA"},
               {0x140111, "CINP_PUSH_DEV_STATE"}};
  for (const auto& c : cases) {
    ASSERT_NE(nullptr, NPC_F_SMP_COM_GetFuncIdName(c.id));
    EXPECT_STREQ(c.name, NPC_F_SMP_COM_GetFuncIdName(c.id));
  }
  EXPECT_EQ(nullptr, NPC_F_SMP_COM_GetFuncIdName(0));
  EXPECT_EQ(nullptr, NPC_F_SMP_COM_GetFuncIdName(0x120104));
  EXPECT_EQ(NPC_D_SMP_COM_FUNCGROUP_CINP, NPC_F_SMP_COM_FuncIdGroup(CINP_CLIENT_REG_SERVER));
  EXPECT_EQ(NPC_D_SMP_COM_FUNCGROUP_MONA, NPC_F_SMP_COM_FuncIdGroup(MONA_GET_CUSTOM_CONFIG_TABLE));
}

}  // namespace
