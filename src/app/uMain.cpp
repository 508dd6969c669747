#include "app/uMain.h"

#include <QLabel>

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Quillomar 2.9.7"));
  auto* label = new QLabel(tr("Quillomar — batch picture processing"), this);
  label->setAlignment(Qt::AlignCenter);
  setCentralWidget(label);
  resize(800, 600);
}
