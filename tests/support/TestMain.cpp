// The main of every test program: the machine-independent environment first, then GoogleTest.
#include "TestEnvironment.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  kivtest::TTestEnvironment environment;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
