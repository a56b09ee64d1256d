// Failure messages: one fixed sentence, written to stderr as raw bytes.
#pragma once

#include <cstdio>
#include <cstring>

// Writes `text` to stderr exactly as given: no prefix, no formatting.
inline void WriteMessage(const char* text) { std::fwrite(text, 1, std::strlen(text), stderr); }
