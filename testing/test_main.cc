// The main of every unit and end-to-end test binary: the hooks installed as
// the daemon installs them at start-up, then GoogleTest.
#include <gtest/gtest.h>

#include "app/hooks.h"

int main(int argc, char** argv) {
  app_install_hooks();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
