// Start-up probe for the window benchmarks: reports a program's first exposed window and ends it.
//
// InstallExposeProbe() watches every window of the application. Once the first window has been
// exposed and that expose handled (its first frame painted), it writes the process's resident
// memory in KiB, as one line on standard output, and ends the process at once with status 0.
// The benchmark that started the process times it up to that line.
//
// REQUIRES: a QGuiApplication exists; call before the event loop runs. GUI thread only.

#ifndef QUENBREL_BENCH_APP_EXPOSE_PROBE_H_
#define QUENBREL_BENCH_APP_EXPOSE_PROBE_H_

#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <QWindow>
#include <cstdio>
#include <cstdlib>

namespace quenbrel {

class ExposeProbe : public QObject {
 public:
  using QObject::QObject;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!seen_ && event->type() == QEvent::Expose && watched->isWindowType() &&
        static_cast<QWindow*>(watched)->isExposed()) {
      seen_ = true;
      // Queued: runs once the expose, and the paint it causes, are done.
      QMetaObject::invokeMethod(this, &ExposeProbe::Report, Qt::QueuedConnection);
    }
    return false;
  }

 private:
  static void Report() {
    long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
      long size = 0;
      if (std::fscanf(statm, "%ld %ld", &size, &pages) != 2) pages = 0;
      std::fclose(statm);
    }
    std::printf("%ld\n", pages * (sysconf(_SC_PAGESIZE) / 1024));
    std::fflush(stdout);
    std::_Exit(0);
  }

  bool seen_ = false;
};

inline void InstallExposeProbe() {
  QCoreApplication* application = QCoreApplication::instance();
  application->installEventFilter(new ExposeProbe(application));
}

}  // namespace quenbrel

#endif  // QUENBREL_BENCH_APP_EXPOSE_PROBE_H_
