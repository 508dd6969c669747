#include <QApplication>

#include "app/uMain.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillomar"));
  QApplication::setApplicationVersion(QStringLiteral(QUILLOMAR_VERSION));
  TfrmMain window;
  window.show();
  return app.exec();
}
