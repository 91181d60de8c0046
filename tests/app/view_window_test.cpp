#include "app/view_window.h"

#include <gtest/gtest.h>

namespace vorlan {

// Found by GoogleTest through the argument's namespace.
std::ostream& operator<<(std::ostream& os, const Twips& t) {
  return os << "{" << t.left << ", " << t.top << ", " << t.width << ", " << t.height << "}";
}

namespace {

// One 1280 x 1024 screen at 96 DPI, in twips; and a second one to its right.
const Twips kScreen{0, 0, 19200, 15360};
const Twips kRightScreen{19200, 0, 19200, 15360};

TEST(FitOnScreens, KeepsAWindowThatCanBeSeen) {
  const Twips cases[] = {
      {2295, 4500, 9015, 4380},
      {-1000, -200, 9015, 4380},    // partly off the top-left, still grabbable
      {18000, 14000, 9015, 4380},   // mostly off the bottom-right corner
  };
  for (const Twips& g : cases) EXPECT_EQ(FitOnScreens(g, {kScreen}), g);
  EXPECT_EQ(FitOnScreens({25000, 100, 9015, 4380}, {kScreen, kRightScreen}),
            (Twips{25000, 100, 9015, 4380}));
}

TEST(FitOnScreens, BringsALostWindowBack) {
  // Left where a second screen used to be.
  EXPECT_EQ(FitOnScreens({25000, 100, 9015, 4380}, {kScreen}), (Twips{10185, 100, 9015, 4380}));
  EXPECT_EQ(FitOnScreens({-50000, -50000, 9015, 4380}, {kScreen}), (Twips{0, 0, 9015, 4380}));
  // Lost and larger than the screen: shrunk to it.
  EXPECT_EQ(FitOnScreens({-95000, 0, 90000, 4380}, {kScreen}), (Twips{0, 0, 19200, 4380}));
  // A sliver on screen is not enough.
  EXPECT_EQ(FitOnScreens({19100, 100, 9015, 4380}, {kScreen}).left, 10185);
}

TEST(FitOnScreens, NoSizeTakesTheBuiltInSize) {
  EXPECT_EQ(FitOnScreens({100, 100, 0, -5}, {kScreen}), (Twips{100, 100, 9015, 4380}));
}

}  // namespace
}  // namespace vorlan
