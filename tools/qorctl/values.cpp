// encrypt and decrypt: one value per argument or per input line, one result
// per output line.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "qorapi.h"
#include "qorctl.h"

namespace qorctl {
namespace {

// Encryption pads in place after the value, so the library is handed room
// beyond it.
constexpr size_t kSpareBytes = 32;

using ValueCall = DataBuffer (*)(const char*, unsigned char*, int, const char*, const char*,
                                 const char*, int);

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

// Runs |call| on one value and prints its result: 0, or the failure status.
int RunOne(ValueCall call, const ValueOptions& options, const std::string& given) {
  std::string value = given;
  if (options.hex && !FromHex(given, &value)) return Usage("not a hex value: '" + given + "'");
  std::vector<unsigned char> buffer(value.begin(), value.end());
  buffer.resize(value.size() + kSpareBytes);
  DataBuffer result = call(options.policy.c_str(), buffer.data(), static_cast<int>(value.size()),
                           OrNull(options.identity1), OrNull(options.identity2),
                           OrNull(options.identity3), options.hex ? 1 : 0);
  std::string out;
  if (result.length > 0 && result.data != nullptr) {
    out.assign(reinterpret_cast<const char*>(result.data), static_cast<size_t>(result.length));
  }
  if (result.data != nullptr) Wipe(result.data, static_cast<size_t>(std::max(result.length, 0)));
  std::free(result.data);
  Wipe(buffer.data(), buffer.size());
  Wipe(value.data(), value.size());
  // -2 and -3 are an empty value, not a failure.
  if (result.length == -1) return Fail();
  std::cout << (options.hex ? ToHex(out) : out) << '\n' << std::flush;
  Wipe(out.data(), out.size());
  return 0;
}

int RunAll(ValueCall call, const ValueOptions& options) {
  return ForEachValue(options, [&](const std::string& value, size_t) {
    return RunOne(call, options, value);
  });
}

}  // namespace

bool FromHex(const std::string& text, std::string* out) {
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (text.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = nibble(text[i]);
    const int low = nibble(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<char>(high << 4 | low));
  }
  return true;
}

std::string ToHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

void Wipe(void* bytes, size_t size) {
  if (bytes != nullptr && size > 0) explicit_bzero(bytes, size);
}

int ForEachValue(const ValueOptions& options,
                 const std::function<int(const std::string& value, size_t position)>& each) {
  size_t position = 0;
  if (!options.values.empty()) {
    for (const std::string& value : options.values) {
      if (const int status = each(value, ++position); status != 0) return status;
    }
    return 0;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const int status = each(line, ++position);
    Wipe(line.data(), line.size());
    if (status != 0) return status;
  }
  return 0;
}

int Encrypt(const ValueOptions& options) { return RunAll(&QOR_EncryptExUdf, options); }
int Decrypt(const ValueOptions& options) { return RunAll(&QOR_DecryptExUdf, options); }

}  // namespace qorctl
