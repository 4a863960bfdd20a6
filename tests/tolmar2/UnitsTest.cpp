#include <gtest/gtest.h>
TEST(Placeholder, Units) {}
