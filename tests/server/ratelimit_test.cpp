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

}  // namespace
