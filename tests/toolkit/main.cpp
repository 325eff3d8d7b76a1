// Widget tests need one application object for the whole run, and a home of their own (nothing
// Qt stores may reach the real one); the platform is offscreen unless the environment says
// otherwise. It is the program's own application object, so that errors, tooltips and modal
// windows behave as in the program.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Application.h"
#include "TestHome.h"

int main(int argc, char** argv) {
  const penamo::test::TTestHome home;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  penamo::TApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  // Tests of the whole run (quit flag, exit code) run in a child that starts this program anew.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  return RUN_ALL_TESTS();
}
