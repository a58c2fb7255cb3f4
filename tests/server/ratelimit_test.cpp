// The per-address post limit, on a clock the test moves.
#include "server/ratelimit.h"

#include <gtest/gtest.h>

using namespace pipshiftserver;
using namespace std::chrono_literals;

namespace {

struct FakeClock {
  PostLimiter::Clock::time_point now{};
  PostLimiter::Now source() {
    return [this] { return now; };
  }
};

TEST(PostLimiter, ThirtyInAnySixtySecondsAndNoMore) {
  FakeClock clock;
  PostLimiter limiter(30, clock.source());
  for (int i = 0; i < 30; ++i) {
    EXPECT_TRUE(limiter.admit("10.0.0.1")) << i;
    clock.now += 1s;
  }
  int retry = 0;
  EXPECT_FALSE(limiter.admit("10.0.0.1", &retry));  // 30 s after the first of them
  EXPECT_EQ(retry, 30);
  EXPECT_TRUE(limiter.admit("10.0.0.2"));  // each address has its own share
  clock.now += 29s;
  EXPECT_FALSE(limiter.admit("10.0.0.1"));
  clock.now += 1s;  // the first post is a minute old: one more may come
  EXPECT_TRUE(limiter.admit("10.0.0.1"));
  EXPECT_FALSE(limiter.admit("10.0.0.1"));
}

TEST(PostLimiter, OneIpv6NetworkSharesOneShare) {
  FakeClock clock;
  PostLimiter limiter(2, clock.source());
  EXPECT_TRUE(limiter.admit("2001:db8:1:2::1"));
  EXPECT_TRUE(limiter.admit("2001:db8:1:2:ffff::7"));
  EXPECT_FALSE(limiter.admit("2001:db8:1:2::abcd"));
  EXPECT_TRUE(limiter.admit("2001:db8:1:3::1"));  // another /64
}

TEST(PostLimiter, ZeroMeansNoLimitAndQuietAddressesAreForgotten) {
  FakeClock clock;
  PostLimiter open(0, clock.source());
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(open.admit("10.0.0.1"));

  PostLimiter limiter(5, clock.source());
  for (int i = 0; i < 3000; ++i)
    limiter.admit("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250));
  EXPECT_EQ(limiter.tracked(), 3000u);
  clock.now += 61s;
  for (int i = 0; i < 3000; ++i)
    limiter.admit("10.2." + std::to_string(i / 250) + "." + std::to_string(i % 250));
  EXPECT_LT(limiter.tracked(), 4000u);  // the first three thousand went once their minute was up
}

TEST(PostLimiter, ACrowdOfAddressesWithinOneMinuteTakesBoundedMemory) {
  // Every address is new and none has had its minute yet: only a cap on the table holds it.
  FakeClock clock;
  PostLimiter limiter(2, clock.source(), 1000);
  for (int i = 0; i < 50000; ++i) {
    limiter.admit("10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
                  std::to_string(i % 256));
    if (i % 1000 == 0) clock.now += 1ms;
    ASSERT_LE(limiter.tracked(), 1000u) << i;
  }
  EXPECT_EQ(limiter.tracked(), 1000u);
}

TEST(PostLimiter, ACappedTableForgetsTheLongestQuietAddressesFirst) {
  FakeClock clock;
  PostLimiter limiter(2, clock.source(), 100);
  auto address = [](int i) {
    return "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256);
  };
  EXPECT_TRUE(limiter.admit("192.0.2.1"));
  EXPECT_TRUE(limiter.admit("192.0.2.1"));
  for (int i = 0; i < 300; ++i) {
    clock.now += 10ms;
    EXPECT_TRUE(limiter.admit(address(i)));
    // An address that keeps trying stays known, however many others come meanwhile.
    EXPECT_FALSE(limiter.admit("192.0.2.1")) << i;
  }
  // The fifty that posted last are still counted; the first ones have made room.
  for (int i = 250; i < 300; ++i) {
    EXPECT_TRUE(limiter.admit(address(i))) << i;
    EXPECT_FALSE(limiter.admit(address(i))) << i;
  }
  EXPECT_LE(limiter.tracked(), 100u);
}

}  // namespace
