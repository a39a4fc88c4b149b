// Test helper for code that reports failures by throwing a `const char*`.
#pragma once

#include <functional>
#include <string>

namespace kxtest {

// The text an action throws, or "" when it throws nothing.
inline std::string Thrown(const std::function<void()>& action) {
  try {
    action();
  } catch (const char* text) {
    return text;
  }
  return "";
}

}  // namespace kxtest
