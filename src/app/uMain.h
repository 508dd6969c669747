#pragma once

#include <QMainWindow>

// The main window. For now a shell that shows the program's title and version.
class TfrmMain : public QMainWindow {
  Q_OBJECT
 public:
  explicit TfrmMain(QWidget* parent = nullptr);
};
