#include <gtest/gtest.h>

#include "app/banner.h"

namespace fennick::app {
namespace {

TEST(BannerScroll, FortyTicksReachMinus4000AndTheFortyFirstJumps) {
    float left = 0;
    for (int tick = 1; tick <= 40; ++tick) {
        left = nextBannerLeft(3915, left, 9000);
        ASSERT_EQ(left, -100.0f * static_cast<float>(tick)) << "tick " << tick;
    }
    EXPECT_EQ(left, -4000.0f);  // right edge now at -85
    EXPECT_EQ(nextBannerLeft(3915, left, 9000), 9000.0f);
}

TEST(BannerScroll, RightEdgeExactlyAtZeroCountsAsGone) {
    EXPECT_EQ(nextBannerLeft(4000, -4000, 8955), 8955.0f);
    EXPECT_EQ(nextBannerLeft(4000, -3999, 8955), -4099.0f);
}

TEST(BannerScroll, JumpsToTheOuterWidthGivenAtThatTick) {
    EXPECT_EQ(nextBannerLeft(100, -200, 9000), 9000.0f);
    EXPECT_EQ(nextBannerLeft(100, -200, 12345), 12345.0f);
}

TEST(BannerScroll, EntersFromTheRightAndMovesOnFromThere) {
    float left = nextBannerLeft(3915, -4000, 8955);
    left = nextBannerLeft(3915, left, 8955);
    EXPECT_EQ(left, 8855.0f);
}

TEST(BannerScroll, TwipsRoundToTheNearestPixel) {
    EXPECT_EQ(pixelsOf(-100), -7);
    EXPECT_EQ(pixelsOf(-4000), -267);
    EXPECT_EQ(pixelsOf(8955), 597);
    EXPECT_EQ(pixelsOf(0), 0);
}

}  // namespace
}  // namespace fennick::app
