#include <3dzan/foundation/xarchive.h>
#include <gtest/gtest.h>
TEST(Smoke, Builds) { EXPECT_EQ(ZanTag("3DCO"), 0x3344434Fu); }
