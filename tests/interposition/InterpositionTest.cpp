#include <gtest/gtest.h>
TEST(Placeholder, Nothing) {}
