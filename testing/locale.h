// Test helper: a C locale whose decimal separator is a comma.
#pragma once

#include <stdlib.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "testing/temp_dir.h"

namespace kxtest {

// Switches LC_NUMERIC to a locale with a decimal comma for the scope. When the system has
// none installed, one is built with localedef (from libc-bin) into a private directory
// named by LOCPATH, from a source and an ASCII character map written here, so no locale
// package is needed. active() is false when neither works.
class DecimalCommaLocale {
 public:
  DecimalCommaLocale() {
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    saved_ = old != nullptr ? old : "C";
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
      if (TrySet(name)) return;
    }
    const char* locpath = std::getenv("LOCPATH");
    if (locpath != nullptr) saved_locpath_ = locpath;
    dir_.emplace();
    const std::string source = dir_->File("comma.src"), charmap = dir_->File("ascii.map");
    std::ofstream(source) << "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"\"\n"
                             "grouping -1\nEND LC_NUMERIC\n";
    {
      std::ofstream map(charmap);
      map << "<code_set_name> KX-ASCII\n<escape_char> /\n<mb_cur_min> 1\n<mb_cur_max> 1\n"
             "CHARMAP\n";
      char line[32];
      for (int c = 0; c < 128; ++c) {
        std::snprintf(line, sizeof line, "<U%04X> /x%02x\n", c, c);
        map << line;
      }
      map << "END CHARMAP\n";
    }
    // localedef fails on the categories the source leaves out; -c writes them anyway.
    const std::string cmd = "localedef -c -i '" + source + "' -f '" + charmap + "' '" +
                            dir_->File("kx_comma") + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) == -1) return;
    ::setenv("LOCPATH", dir_->path().c_str(), 1);
    TrySet("kx_comma");
  }
  ~DecimalCommaLocale() {
    std::setlocale(LC_NUMERIC, saved_.c_str());
    if (!dir_) return;  // LOCPATH left as it was
    if (saved_locpath_) {
      ::setenv("LOCPATH", saved_locpath_->c_str(), 1);
    } else {
      ::unsetenv("LOCPATH");
    }
  }
  DecimalCommaLocale(const DecimalCommaLocale&) = delete;
  DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;
  bool active() const { return active_; }

 private:
  bool TrySet(const char* name) {
    if (std::setlocale(LC_NUMERIC, name) == nullptr) return false;
    char text[16];
    std::snprintf(text, sizeof(text), "%.1f", 1.5);
    active_ = std::string(text) == "1,5";
    if (!active_) std::setlocale(LC_NUMERIC, saved_.c_str());
    return active_;
  }
  std::string saved_;
  std::optional<std::string> saved_locpath_;
  std::optional<TempDir> dir_;  // a locale built for the test, removed afterwards
  bool active_ = false;
};

}  // namespace kxtest
