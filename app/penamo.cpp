// The window program: グラデーション・スムージング「ぺなも」.
#include "Application.h"
#include "MainForm.h"
#include "Pictures.h"

int main(int argc, char** argv) {
  return penamo::RunApplication(argc, argv, QString::fromUtf8(penamo::ProgramTitle),
                                [](penamo::TApplication& app) {
                                  app.SetIcon(penamo::MainIcon());
                                  app.CreateMainWindow(penamo::MainForm);
                                });
}
