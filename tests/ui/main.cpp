// Window tests need the one application object for the whole run, with the program's icon as
// the program sets it, and a home of their own (nothing Qt stores may reach the real one); the
// platform is offscreen unless the environment says otherwise.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Application.h"
#include "Pictures.h"
#include "TestHome.h"

int main(int argc, char** argv) {
  const penamo::test::TTestHome home;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  penamo::TApplication app(argc, argv);
  app.SetTitle(QString::fromUtf8("グラデーション・スムージング「ぺなも」"));
  app.SetIcon(penamo::MainIcon());
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
