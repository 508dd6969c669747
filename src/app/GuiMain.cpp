#include <QApplication>

#include "app/uMain.h"
#include "util/MemoryTuning.h"

int main(int argc, char* argv[]) {
  ReturnFreedMemoryPromptly();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillomar"));
  QApplication::setApplicationVersion(QStringLiteral(QUILLOMAR_VERSION));
  TfrmMain window;
  window.show();
  return app.exec();
}
