// The window program: グラデーション・スムージング「ぺなも」.
#include "Application.h"
#include "Program.h"

int main(int argc, char** argv) {
  penamo::TApplication app(argc, argv);
  return penamo::RunProgram(app, app.arguments().mid(1));
}
