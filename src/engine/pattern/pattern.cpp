#include "engine/pattern/pattern.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "common/error_codes.h"
#include "common/scan_int.h"
#include "common/value_format.h"
#include "engine/pattern/split.h"
#include "log/log.h"

namespace qor::engine {
namespace {

constexpr char kLogUnit[] = "source/Crypto/UACipherUtil";

// A segment shorter than this cannot be an encrypted value; digit and triple-DES
// values can be shorter than 24 characters, so their own shortest form counts.
size_t MinEncryptedText(UACipherUtil** self) {
  const int64_t shortest = EncryptedTextLength(1, self);
  return static_cast<size_t>(shortest < 24 ? shortest : 24);
}

struct Plan {
  std::string_view front;
  std::string_view segment;
  std::string_view back;
};

std::string_view PatternText(const PatternBlock& pattern) {
  const char* chars = reinterpret_cast<const char*>(pattern.chars);
  return std::string_view(chars, strnlen(chars, sizeof(pattern.chars)));
}

// The clear parts and the segment of |text|, or none when the pattern does
// not apply. An empty segment never applies: encrypting nothing in place of
// the value would lose it.
std::optional<Plan> PlanSplit(UACipherUtil** self, const PatternBlock& pattern,
                              std::string_view text, bool decrypt) {
  Plan plan;
  switch (pattern.type) {
    case QOR_PATTERN_CHARACTER: {
      const auto parts = SplitAtSeparator(text, PatternText(pattern));
      if (!parts) return std::nullopt;
      if (pattern.position == QOR_POSITION_FRONT) {
        plan.segment = parts->front;
        plan.back = text.substr(parts->front.size());
      } else if (pattern.position == QOR_POSITION_BACK) {
        plan.segment = parts->back;
        plan.front = text.substr(0, text.size() - parts->back.size());
      }
      if (decrypt && plan.segment.size() < MinEncryptedText(self)) return std::nullopt;
      break;
    }
    case QOR_PATTERN_MIDDLE: {
      int clear = 0;
      int middle = 0;
      if (!ReadMiddlePattern(PatternText(pattern), &clear, &middle)) return std::nullopt;
      const auto parts =
          SplitMiddle(text, clear, decrypt ? MiddleLength(middle, self) : middle, pattern.position);
      if (!parts) return std::nullopt;
      plan = Plan{parts->front, parts->middle, parts->back};
      if (decrypt && plan.segment.size() < MinEncryptedText(self)) return std::nullopt;
      if (!decrypt && (plan.front.size() == text.size() || plan.segment.size() == text.size())) {
        return std::nullopt;
      }
      break;
    }
    case QOR_PATTERN_EXCLUDE_STRING: {
      int keep = 0;
      if (!ScanInts(PatternText(pattern), 0, &keep, 1) || keep < 0) return std::nullopt;
      const auto n = static_cast<size_t>(keep);
      if (text.size() <= n) return std::nullopt;
      if (pattern.position == QOR_POSITION_FRONT) {
        plan.front = text.substr(0, n);
        plan.segment = text.substr(n);
      } else if (pattern.position == QOR_POSITION_BACK) {
        plan.segment = text.substr(0, text.size() - n);
        plan.back = text.substr(text.size() - n);
      }
      break;
    }
    default:
      break;
  }
  if (plan.segment.empty()) return std::nullopt;
  return plan;
}

void SetOutput(DataBuffer* out, int length, unsigned char* data) {
  out->length = length;
  out->data = data;
}

}  // namespace

int RunWithPattern(UACipherUtil** self, DataBuffer* in, DataBuffer* out, bool decrypt,
                   SegmentOperation whole, void* context) {
  if (whole == nullptr || out == nullptr) return -1;
  const UACipherUtilData* data = self != nullptr && *self != nullptr ? (*self)->data : nullptr;
  if (data == nullptr || data->hasPattern == 0) return whole(context, in, out);

  SetOutput(out, 0, nullptr);
  if (in == nullptr || in->length < 0 || (in->data == nullptr && in->length > 0)) {
    SetOutput(out, -1, nullptr);
    return -1;
  }
  const std::string_view text(reinterpret_cast<const char*>(in->data), static_cast<size_t>(in->length));
  const std::optional<Plan> plan = PlanSplit(self, data->pattern, text, decrypt);
  if (!plan) return qor::err::kCorePassThrough;

  const size_t segmentLength = plan->segment.size();
  auto* segmentBuffer = static_cast<unsigned char*>(std::calloc(segmentLength + value::kSpareBytes, 1));
  if (segmentBuffer == nullptr) {
    QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
    SetOutput(out, -1, nullptr);
    return -1;
  }
  std::memcpy(segmentBuffer, plan->segment.data(), segmentLength);
  DataBuffer segment{static_cast<int32_t>(segmentLength), segmentBuffer};
  DataBuffer segmentOut{0, nullptr};
  const int result = whole(context, &segment, &segmentOut);
  std::free(segmentBuffer);

  // Negative lengths other than -1 (-2: no value) leave the segment empty.
  const size_t produced = segmentOut.length > 0 ? static_cast<size_t>(segmentOut.length) : 0;
  if (result == -1 || segmentOut.length == -1 || (produced > 0 && segmentOut.data == nullptr)) {
    std::free(segmentOut.data);
    SetOutput(out, -1, nullptr);
    return result == -1 || segmentOut.length == -1 ? result : -1;
  }

  const size_t total = plan->front.size() + produced + plan->back.size();
  auto* joined = total <= INT32_MAX ? static_cast<unsigned char*>(std::malloc(total + 1)) : nullptr;
  if (joined == nullptr) {
    QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
    std::free(segmentOut.data);
    SetOutput(out, -1, nullptr);
    return -1;
  }
  unsigned char* cursor = joined;
  auto append = [&cursor](const void* bytes, size_t n) {
    if (n > 0) std::memcpy(cursor, bytes, n);
    cursor += n;
  };
  append(plan->front.data(), plan->front.size());
  append(segmentOut.data, produced);
  append(plan->back.data(), plan->back.size());
  *cursor = 0;
  std::free(segmentOut.data);
  SetOutput(out, static_cast<int>(total), joined);
  return result;
}

}  // namespace qor::engine
