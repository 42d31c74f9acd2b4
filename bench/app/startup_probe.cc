// The tool as it starts (see app/main.cc), ended by the expose probe at its first frame.

#include <QApplication>

#include "app/main_window.h"
#include "bench/app/expose_probe.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  quenbrel::InstallExposeProbe();
  QGuiApplication::setDesktopFileName(QStringLiteral("quenbrel"));
  quenbrel::StartUp();
  return application.exec();
}
