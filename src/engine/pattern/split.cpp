#include "engine/pattern/split.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/scan_int.h"
#include "common/value_format.h"
#include "engine/algorithms/algorithm_table.h"

namespace qor::engine {
namespace {

// Only this many characters of a middle pattern are significant.
constexpr size_t kMiddlePatternChars = 8;

char* CopyText(std::string_view text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) return nullptr;
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = 0;
  return copy;
}

// Fills |result| with copies of |parts|, or with three nones when there are
// no parts or a copy cannot be made.
SplitResult* Store(SplitResult* result, const std::optional<SplitParts>& parts) {
  if (parts) {
    result->front = CopyText(parts->front);
    result->middle = CopyText(parts->middle);
    result->back = CopyText(parts->back);
    if (result->front != nullptr && result->middle != nullptr && result->back != nullptr) return result;
  }
  FreeSplitResult(result);
  return result;
}

}  // namespace

std::optional<SplitParts> SplitAtSeparator(std::string_view text, std::string_view separator) {
  const size_t at = text.find(separator);
  if (at == std::string_view::npos) return std::nullopt;
  return SplitParts{text.substr(0, at), text.substr(at, separator.size()),
                    text.substr(at + separator.size())};
}

std::optional<SplitParts> SplitMiddle(std::string_view text, int64_t clear, int64_t middle,
                                      int position) {
  const auto length = static_cast<int64_t>(text.size());
  if (clear < 0 || middle < 0 || clear > length || middle > length - clear) return std::nullopt;
  const auto c = static_cast<size_t>(clear);
  const auto m = static_cast<size_t>(middle);
  if (position == QOR_POSITION_FRONT) return SplitParts{text.substr(0, c), text.substr(c, m), text.substr(c + m)};
  const size_t rest = text.size() - c - m;
  return SplitParts{text.substr(0, rest), text.substr(rest, m), text.substr(rest + m)};
}

bool ReadMiddlePattern(std::string_view pattern, int* clear, int* middle) {
  int values[2];
  if (!ScanInts(pattern.substr(0, kMiddlePatternChars), ',', values, 2)) return false;
  if (values[0] < 0 || values[1] < 0) return false;
  *clear = values[0];
  *middle = values[1];
  return true;
}

int64_t EncryptedTextLength(int64_t plain, UACipherUtil** object) {
  if (object == nullptr || *object == nullptr || (*object)->data == nullptr) return plain;
  const UACipherUtilData* data = (*object)->data;
  const CipherUtil* head = std::atomic_ref<CipherUtil*>((*object)->data->ciphers).load(std::memory_order_acquire);
  if (head == nullptr) {
    return getCryptoLen(static_cast<int>(std::min<int64_t>(plain, INT32_MAX)), 0, data->compatibility, 0);
  }
  const uint32_t alg = head->algType;
  if (alg == QOR_ALG_FPE) return plain;  // digits keep their length, no Base64
  const auto& algorithm = algorithms::AlgorithmOf(alg);
  int64_t binary = algorithm.digestBytes;
  if (binary == 0) {
    // Codes without a block cipher are sized as 16-byte blocks.
    const int block = algorithm.blockBytes != 0 ? algorithm.blockBytes : 16;
    binary = value::EncryptedBinaryLength(
        plain, block, value::WritesBlank(data->compatibility, data->nullProcess != 0),
        head->keyVersion != 0, head->useRecordIV != 0);
  }
  return value::EncryptedTextLength(binary, data->compatibility == 0);
}

int64_t MiddleLength(int middle, UACipherUtil** object) {
  // getCryptoLen's prediction misses the whole padding block, the blank and the
  // triple-DES block size, so values it mispredicts could never be read back;
  // the exact length agrees with it wherever it was right.
  return EncryptedTextLength(middle, object);
}

void FreeSplitResult(SplitResult* result) {
  if (result == nullptr) return;
  std::free(result->front);
  std::free(result->middle);
  std::free(result->back);
  result->front = result->middle = result->back = nullptr;
}

}  // namespace qor::engine

extern "C" {

SplitResult* split_char(SplitResult* result, const char* text, int length, const char* separator) {
  if (result == nullptr) return nullptr;
  *result = SplitResult{};
  if (text == nullptr || separator == nullptr || length < 1) return result;
  return qor::engine::Store(result, qor::engine::SplitAtSeparator(
                                        std::string_view(text, static_cast<size_t>(length)), separator));
}

SplitResult* triple_char(SplitResult* result, const char* text, int length, const char* pattern,
                         int position, UACipherUtil** object) {
  if (result == nullptr) return nullptr;
  *result = SplitResult{};
  if (text == nullptr || pattern == nullptr || length < 0) return result;
  int clear = 0;
  int middle = 0;
  if (!qor::engine::ReadMiddlePattern(
          std::string_view(pattern, strnlen(pattern, qor::engine::kMiddlePatternChars)), &clear, &middle)) {
    return result;
  }
  return qor::engine::Store(result, qor::engine::SplitMiddle(std::string_view(text, static_cast<size_t>(length)),
                                                             clear, qor::engine::MiddleLength(middle, object),
                                                             position));
}

int getCryptoLen(int length, int useRecordIV, int compatibility, uint16_t keyVersion) {
  int64_t size = 24;
  if (length > 16) {
    const int64_t padded = (static_cast<int64_t>(length) + 15) / 16 * 16;
    size = padded / 3 * 4 + 4;
  }
  if (compatibility == 0) size += 2;
  if (useRecordIV != 0) size += 4;
  if (keyVersion != 0) size += 4;
  return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

}  // extern "C"
