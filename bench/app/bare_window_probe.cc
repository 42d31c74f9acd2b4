// Baseline for the start-up benchmark: a bare Qt window with the tool's widgets, placed and
// captioned alike, made with nothing but Qt, ended by the expose probe at its first frame.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "bench/app/expose_probe.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  quenbrel::InstallExposeProbe();

  QWidget window(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint);
  window.setWindowTitle(QStringLiteral("Quenbrel"));
  const auto label = [&window](const char* text, int x, int y, int w, int h) {
    (new QLabel(QString::fromUtf8(text), &window))->setGeometry(x, y, w, h);
  };
  const auto edit = [&window](const char* text, int x, int y, int w, int h) {
    (new QLineEdit(QString::fromUtf8(text), &window))->setGeometry(x, y, w, h);
  };
  label("帮助QQ10000", 28, 187, 112, 24);
  label("待生成网址：", 22, 108, 72, 24);
  edit("", 106, 111, 234, 20);
  (new QPushButton(QString::fromUtf8("生成"), &window))->setGeometry(195, 182, 104, 32);
  label("生成结果：", 20, 150, 72, 24);
  label("密码:", 66, 71, 40, 24);
  label("用户名:", 64, 31, 48, 24);
  edit("", 107, 153, 234, 20);
  edit("kolm", 120, 72, 152, 20);
  edit("kolm", 120, 32, 152, 20);
  window.setFixedSize(380, 250);
  window.show();
  return application.exec();
}
