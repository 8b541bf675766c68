// Pieces of the configuration builder shared by its source files.
#pragma once

#include <optional>
#include <string>

#include "config/build.h"
#include "qor/config.h"

namespace qor::config {

// Size of the value buffer a properties key is read into.
inline constexpr int kValueCapacity = 1024;
// Configured crypto modes: indexes of the CryptoMode names this build supports.
enum CryptoModeIndex : int32_t { kCBC = 0, kECB = 1, kCTR = 2 };
inline bool SupportedCryptoMode(int mode) { return mode >= kCBC && mode <= kCTR; }

// Longest properties-file path (characters).
inline constexpr size_t kMaxPropertiesPath = 314;

// Reads |key| from the properties file at |path| into |value| (the last quoted
// value of a matching line, else empty). 0, or -1 when the file cannot be read.
int ReadPropertiesKey(const char* path, const char* key, char (&value)[kValueCapacity]);

// Tests only: replaces the library-directory lookup. std::nullopt restores the
// real lookup; an empty text makes the lookup fail.
void SetModuleDirOverrideForTesting(std::optional<std::string> dir);
std::optional<std::string> ModuleDirOverride();

}  // namespace qor::config
