// Quenbrel: turns a long web address into a short link. Shows the window and runs until it closes.

#include <QApplication>

#include "app/main_window.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("quenbrel"));
  quenbrel::StartUp();
  return application.exec();
}
