#include "viewer/client_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/hud_block.h"
#include "testing/fake_clock.h"
#include "testing/viewer_fixture.h"

namespace {

struct ClientTableTest : ::testing::Test {
  uint8_t hud[kHudSize] = {};
  void SetUp() override {
    fake_clock_install(100000, false);
    hud_set_block(hud);
    client_table_clear();
  }
  void TearDown() override {
    client_table_clear();
    hud_set_block(nullptr);
    fake_clock_remove();
  }
};

TEST_F(ClientTableTest, RegisterRefreshAndSwitchMode) {
  EXPECT_EQ(client_register("10.0.0.5", 5555, 0), 1);
  ClientEntry e = client_slot(0);
  EXPECT_STREQ(e.address, "10.0.0.5");
  EXPECT_EQ(e.port, 5555u);
  EXPECT_EQ(e.last_seen, 100000u);
  EXPECT_EQ(e.data_only, 0);

  fake_clock_set(101000);
  EXPECT_EQ(client_register("10.0.0.5", 5555, 1), 0);  // refresh, now data only
  e = client_slot(0);
  EXPECT_EQ(e.last_seen, 101000u);
  EXPECT_EQ(e.data_only, 1);
  EXPECT_EQ(client_count(), 1);

  // Same host, other port: a second viewer.
  EXPECT_EQ(client_register("10.0.0.5", 5556, 0), 1);
  EXPECT_EQ(client_slot(1).port, 5556u);
  EXPECT_EQ(client_count(), 2);
}

TEST_F(ClientTableTest, TwentySlotsThenTheTwentyFirstWaits) {
  // Five hosts, four ports each.
  auto host = [](int i) { return "10.0.0." + std::to_string(1 + i / 4); };
  for (int i = 0; i < kClientSlots; i++)
    EXPECT_EQ(client_register(host(i).c_str(), 6000 + i, 0), 1);
  EXPECT_EQ(client_register("10.0.0.9", 7000, 0), 0);
  EXPECT_EQ(client_count(), 20);
  for (int i = 0; i < kClientSlots; i++) EXPECT_NE(client_slot(i).port, 7000u);

  EXPECT_EQ(client_remove("10.0.0.1", 6003), 1);
  EXPECT_EQ(client_remove("10.0.0.2", 6007), 1);
  ClientEntry freed = client_slot(3);
  EXPECT_EQ(freed.address[0], 0);
  EXPECT_EQ(freed.port, 0u);
  EXPECT_EQ(freed.last_seen, 0u);
  // The lowest free slot is taken.
  EXPECT_EQ(client_register("10.0.0.9", 7000, 1), 1);
  EXPECT_EQ(client_slot(3).port, 7000u);
  EXPECT_EQ(client_slot(7).port, 0u);
}

TEST_F(ClientTableTest, OneAddressHoldsAtMostItsShare) {
  // share, ports one host tries, slots it gets; another host always gets in.
  struct Row {
    int share, tried, held;
  } rows[] = {{kClientPerAddressDefault, 19, 4}, {1, 3, 1}, {0, 3, 1}, {20, 19, 19}, {99, 25, 20}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.share);
    client_table_clear();
    client_set_max_per_address(r.share);
    int refused = 0;
    for (int i = 0; i < r.tried; i++)
      refused += client_register("10.0.0.1", 6000 + i, 0) == kClientRefusedAddressFull;
    EXPECT_EQ(client_count(), r.held);
    // A refresh of a held slot is no new slot, and is never refused.
    EXPECT_EQ(client_register("10.0.0.1", 6000, 1), 0);
    EXPECT_EQ(client_register("10.0.0.2", 6000, 0), r.held < kClientSlots ? 1 : 0);
    EXPECT_EQ(refused, r.tried - r.held);
  }
  client_set_max_per_address(kClientPerAddressDefault);
  EXPECT_EQ(client_max_per_address(), 4);
}

TEST_F(ClientTableTest, RemoveNeedsBothAddressAndPort) {
  client_register("10.0.0.1", 6000, 0);
  EXPECT_EQ(client_remove("10.0.0.1", 6001), 0);
  EXPECT_EQ(client_remove("10.0.0.10", 6000), 0);
  EXPECT_EQ(client_remove("10.0.0.1", 6000), 1);
  EXPECT_EQ(client_remove("10.0.0.1", 6000), 0);
  EXPECT_EQ(client_count(), 0);
}

TEST_F(ClientTableTest, ExpiryAfterMoreThan5000msAndClientCount) {
  client_register("10.0.0.1", 6000, 0);
  fake_clock_set(102000);
  client_register("10.0.0.1", 6001, 0);
  fake_clock_set(105000);  // exactly 5000 ms after the first: kept
  testing::internal::CaptureStderr();
  client_expire();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(hud_get_u8(hud, HUD_CLIENT_COUNT), 2);

  fake_clock_set(105001);
  testing::internal::CaptureStderr();
  client_expire();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Client 10.0.0.1:6000 lost\n");
  EXPECT_EQ(hud_get_u8(hud, HUD_CLIENT_COUNT), 1);
  EXPECT_EQ(client_slot(0).port, 0u);
  EXPECT_EQ(client_slot(1).port, 6001u);

  fake_clock_set(107001);
  testing::internal::CaptureStderr();
  client_expire();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Client 10.0.0.1:6001 lost\n");
  EXPECT_EQ(hud_get_u8(hud, HUD_CLIENT_COUNT), 0);
}

TEST_F(ClientTableTest, ExpiryAcrossTheClockWrap) {
  fake_clock_set(0xFFFFF000u);
  client_register("10.0.0.1", 6000, 0);
  fake_clock_set(0xFFFFF000u + 4000u);  // wrapped past zero
  client_expire();
  EXPECT_EQ(client_count(), 1);
  fake_clock_set(0xFFFFF000u + 5001u);
  testing::internal::CaptureStderr();
  client_expire();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(client_count(), 0);
}

TEST_F(ClientTableTest, DestinationsInSlotOrderWithMode) {
  client_register("127.0.0.1", 6000, 0);
  client_register("127.0.0.2", 6001, 1);
  client_register("127.0.0.3", 6002, 0);
  client_remove("127.0.0.2", 6001);
  client_register("127.0.0.4", 6003, 1);  // into slot 1
  ClientDest d[kClientSlots];
  EXPECT_EQ(client_destinations(d), 0);  // none answered yet
  client_answered("127.0.0.9", 6000);    // the address counts too
  client_answered("127.0.0.3", 6003);    // and the port
  EXPECT_EQ(client_destinations(d), 0);
  client_answered("127.0.0.1", 6000);
  client_answered("127.0.0.3", 6002);
  client_answered("127.0.0.4", 6003);
  ASSERT_EQ(client_destinations(d), 3);
  EXPECT_EQ(ntohs(d[0].addr.sin_port), 6000);
  EXPECT_EQ(ntohs(d[1].addr.sin_port), 6003);
  EXPECT_EQ(d[1].data_only, 1);
  EXPECT_EQ(ntohl(d[1].addr.sin_addr.s_addr), 0x7F000004u);
  EXPECT_EQ(ntohs(d[2].addr.sin_port), 6002);
}

TEST_F(ClientTableTest, UnusableSendersTakeNoSlot) {
  const char* bad[] = {"", "not an address", "1.2.3.4.5", "123456789012345678901234", "::1"};
  for (const char* a : bad) EXPECT_EQ(client_register(a, 6000, 0), 0) << a;
  EXPECT_EQ(client_register(nullptr, 6000, 0), 0);
  EXPECT_EQ(client_register("10.0.0.1", 0, 0), 0);
  EXPECT_EQ(client_remove(nullptr, 6000), 0);
  EXPECT_EQ(client_count(), 0);
  EXPECT_EQ(client_slot(-1).port, 0u);
  EXPECT_EQ(client_slot(kClientSlots).port, 0u);
}

}  // namespace
