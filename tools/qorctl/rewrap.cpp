// rewrap and key-version: moving stored values to a policy's newest key
// version after a rotation, and reading which version a stored value has.
// Plaintext exists only inside rewrap, in buffers wiped after use; it is never
// written anywhere.
#include <algorithm>
#include <cstdio>
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

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

// A library result that wipes and frees its bytes.
class Result {
 public:
  explicit Result(DataBuffer buffer) : buffer_(buffer) {}
  ~Result() {
    if (buffer_.data != nullptr && buffer_.length > 0) {
      Wipe(buffer_.data, static_cast<size_t>(buffer_.length));
    }
    std::free(buffer_.data);
  }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;

  int length() const { return buffer_.length; }
  std::string bytes() const {
    if (buffer_.data == nullptr || buffer_.length <= 0) return "";
    return std::string(reinterpret_cast<const char*>(buffer_.data),
                       static_cast<size_t>(buffer_.length));
  }
  // Compares without copying the bytes out.
  bool Equals(const std::vector<unsigned char>& other, size_t size) const {
    if (buffer_.length < 0 || static_cast<size_t>(buffer_.length) != size) return false;
    return size == 0 || (buffer_.data != nullptr &&
                         std::equal(other.begin(), other.begin() + static_cast<long>(size), buffer_.data));
  }
  const unsigned char* data() const { return buffer_.data; }

 private:
  DataBuffer buffer_;
};

// A working copy of a value with room behind it; wiped on release.
class Working {
 public:
  Working(const unsigned char* bytes, size_t size) : bytes_(bytes, bytes + size), size_(size) {
    bytes_.resize(size + kSpareBytes);
  }
  ~Working() { Wipe(bytes_.data(), bytes_.size()); }
  Working(const Working&) = delete;
  Working& operator=(const Working&) = delete;
  unsigned char* data() { return bytes_.data(); }
  const std::vector<unsigned char>& bytes() const { return bytes_; }
  int size() const { return static_cast<int>(size_); }

 private:
  std::vector<unsigned char> bytes_;
  size_t size_;
};

// Algorithm of |policy| as the library names it ("ARIA-256", "FPE-128",
// "SHA-256" ...); false when the policy cannot be had (the last error says why).
bool AlgorithmOf(const std::string& policy, std::string* algorithm) {
  char text[256];
  if (QOR_DescribePolicy(policy.c_str(), text, sizeof(text)) != 0) return false;
  const std::string description = text;
  *algorithm = description.substr(0, description.find(' '));
  return true;
}

bool OneWay(const std::string& algorithm) {
  return algorithm.rfind("SHA", 0) == 0 || algorithm.rfind("LSH", 0) == 0;
}

}  // namespace

int Rewrap(const ValueOptions& options) {
  std::string algorithm;
  if (!AlgorithmOf(options.policy, &algorithm)) return Fail();
  if (algorithm.rfind("FPE", 0) == 0) {
    return Usage(options.policy + " is a digit (FPE) policy: its values carry no key version, "
                                  "so there is no telling which key made them");
  }
  if (OneWay(algorithm)) {
    return Usage(options.policy + " is a digest (" + algorithm +
                 ") policy: digests cannot be decrypted, so they cannot be rewrapped");
  }
  const int mode = options.hex ? 1 : 0;
  size_t written = 0;
  auto stopped = [&](size_t position) {
    return "stopped at value " + std::to_string(position) + "; the " + std::to_string(written) +
           " value(s) before it were written";
  };
  return ForEachValue(options, [&](const std::string& given, size_t position) {
    // An empty line is an empty or null column value: it stays as it is.
    if (given.empty()) {
      std::cout << '\n' << std::flush;
      ++written;
      return kExitOk;
    }
    std::string stored = given;
    if (options.hex && !FromHex(given, &stored)) {
      return Usage("value " + std::to_string(position) + " is not hex");
    }
    Working old(reinterpret_cast<const unsigned char*>(stored.data()), stored.size());
    Result plain(QOR_DecryptExUdf(options.policy.c_str(), old.data(), old.size(),
                                  OrNull(options.identity1), OrNull(options.identity2),
                                  OrNull(options.identity3), mode));
    if (plain.length() == -1) return Fail(stopped(position));
    // A policy's error handling can hand back the input or nothing instead of
    // failing; encrypting that would lose the value.
    if (plain.length() < 0 || plain.length() == 0 || plain.Equals(old.bytes(), stored.size())) {
      return Report("qorctl: " + stopped(position) +
                        ": it did not decrypt under " + options.policy +
                        " (the policy's error handling returned " +
                        (plain.length() > 0 ? "the input" : "no value") + ")",
                    kExitFailed);
    }
    Working clear(plain.data(), static_cast<size_t>(plain.length()));
    Result fresh(QOR_EncryptExUdf(options.policy.c_str(), clear.data(), clear.size(),
                                  OrNull(options.identity1), OrNull(options.identity2),
                                  OrNull(options.identity3), mode));
    if (fresh.length() <= 0) {
      if (fresh.length() == -1) return Fail(stopped(position));
      return Report("qorctl: " + stopped(position) + ": encryption under " + options.policy +
                        " gave no value",
                    kExitFailed);
    }
    // Written only once it is known to give the same value back.
    const std::string text = fresh.bytes();
    Working check(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    Result back(QOR_DecryptExUdf(options.policy.c_str(), check.data(), check.size(),
                                 OrNull(options.identity1), OrNull(options.identity2),
                                 OrNull(options.identity3), mode));
    if (!back.Equals(clear.bytes(), static_cast<size_t>(clear.size()))) {
      if (back.length() == -1) return Fail(stopped(position));
      return Report("qorctl: " + stopped(position) +
                        ": the new value did not decrypt to the same value",
                    kExitFailed);
    }
    std::cout << (options.hex ? ToHex(text) : text) << '\n' << std::flush;
    ++written;
    return kExitOk;
  });
}

int KeyVersion(const ValueOptions& options) {
  return ForEachValue(options, [&](const std::string& given, size_t position) {
    int version = -1;
    if (options.hex) {
      std::string bytes;
      if (FromHex(given, &bytes) && bytes.size() >= 2) {
        version = (static_cast<unsigned char>(bytes[0]) << 8) | static_cast<unsigned char>(bytes[1]);
      }
    } else {
      version = QOR_GetKeyVersion(given.c_str());
    }
    if (version < 0) {
      return Usage("value " + std::to_string(position) + " is not a stored " +
                   (options.hex ? "binary" : "text") + " value (it holds fewer than two bytes)");
    }
    std::printf("%d\n", version);
    std::fflush(stdout);
    return kExitOk;
  });
}

}  // namespace qorctl
