// The window program: グラデーション・スムージング「ぺなも」.
#include "Application.h"
#include "Program.h"
#include "SaveInterruption.h"

int main(int argc, char** argv) {
  // A signal that would end the program lets a save under way finish (or undo itself) first.
  penamo::HandleInterruptions(penamo::TInterruptionPolicy::Finish);
  penamo::TApplication app(argc, argv);
  return penamo::RunProgram(app, app.arguments().mid(1));
}
