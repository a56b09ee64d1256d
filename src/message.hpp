// Failure messages: one fixed sentence, written to stderr as raw bytes.
#pragma once

#include <cstdio>
#include <cstring>
#include <memory>

// Writes `text` to stderr exactly as given: no prefix, no formatting.
inline void WriteMessage(const char* text) { std::fwrite(text, 1, std::strlen(text), stderr); }

// What a failed step returns: 1 where the caller expects a status, null where
// it expects a buffer.
struct Failure {
  operator int() const { return 1; }
  template <typename T>
  operator std::unique_ptr<T>() const {
    return nullptr;
  }
};

// Writes `message` and gives the failure result: `return Fail(kMessage);`.
inline Failure Fail(const char* message) {
  WriteMessage(message);
  return {};
}
