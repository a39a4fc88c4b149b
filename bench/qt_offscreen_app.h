// The Qt application a QPainter peer needs for its fonts, on the offscreen platform (no
// display). Create one at the top of main, before the benchmarks run.
#pragma once

#include <QGuiApplication>

class OffscreenGuiApp {
 public:
  explicit OffscreenGuiApp(const char* name)
      : name_(name), argv_{name_.data(), nullptr}, app_(Platform(argc_), argv_) {}

 private:
  static int& Platform(int& argc) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return argc;
  }
  QByteArray name_;
  int argc_ = 1;
  char* argv_[2];
  QGuiApplication app_;
};
