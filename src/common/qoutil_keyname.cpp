// Policy object names of the form part.part[.part][.part].
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "qor/qoutil.h"

namespace {

// The parts joined with "." in a new zero-terminated buffer; NULL when memory
// cannot be had.
char* JoinWithDots(std::initializer_list<std::string_view> parts, uint32_t* length) {
  size_t total = 0;
  for (std::string_view part : parts) total += part.size() + 1;
  auto* text = static_cast<char*>(x_malloc(total));  // dots plus the terminator
  if (text == nullptr) return nullptr;
  size_t at = 0;
  for (std::string_view part : parts) {
    if (at != 0) text[at++] = '.';
    std::memcpy(text + at, part.data(), part.size());
    at += part.size();
  }
  text[at] = '\0';
  *length = static_cast<uint32_t>(at);
  return text;
}

bool Filled(const UString* s) { return s != nullptr && s->data != nullptr && s->length > 0; }

std::string_view View(const UString& s) { return {s.data, s.length}; }

}  // namespace

extern "C" {

QOR_API int QOUtil_GenKeyNameEx2(UString a, UString b, UString c, UString* out) {
  if (out == nullptr) return -1;
  out->length = 0;
  out->data = nullptr;
  if (!Filled(&a) || !Filled(&b)) return static_cast<int>(a.length);
  uint32_t length = 0;
  char* text = Filled(&c) ? JoinWithDots({View(a), View(b), View(c)}, &length)
                          : JoinWithDots({View(a), View(b)}, &length);
  if (text == nullptr) return 0;
  out->data = text;
  out->length = length;
  return static_cast<int>(length);
}

QOR_API char* QOUtil_GenKeyNameEx3(const char* a, int aLength, const char* b, int bLength,
                                   const char* c, int cLength, const char* d, int dLength,
                                   UString* out) {
  if (out == nullptr) return nullptr;
  out->length = 0;
  out->data = nullptr;
  if (a == nullptr || b == nullptr || c == nullptr || aLength < 1 || bLength < 1 ||
      cLength < 1) {
    return nullptr;
  }
  const std::string_view pa(a, static_cast<size_t>(aLength));
  const std::string_view pb(b, static_cast<size_t>(bLength));
  const std::string_view pc(c, static_cast<size_t>(cLength));
  uint32_t length = 0;
  char* text = (d != nullptr && dLength > 0)
                   ? JoinWithDots({pa, pb, pc, std::string_view(d, static_cast<size_t>(dLength))},
                                  &length)
                   : JoinWithDots({pa, pb, pc}, &length);
  if (text == nullptr) return nullptr;
  out->data = text;
  out->length = length;
  return text;
}

QOR_API UString QOUtil_GenKeyNameEx(const UString* a, const UString* b, const UString* c) {
  UString result{0, nullptr};
  if (!Filled(a) || !Filled(b)) return result;
  result.data = Filled(c) ? JoinWithDots({View(*a), View(*b), View(*c)}, &result.length)
                          : JoinWithDots({View(*a), View(*b)}, &result.length);
  if (result.data == nullptr) result.length = 0;
  return result;
}

QOR_API UString QOUtil_genKeyName(const char* a, const char* b, const char* c) {
  auto counted = [](const char* text) {
    return UString{static_cast<uint32_t>(x_strlen(text)), const_cast<char*>(text)};
  };
  const UString ua = counted(a), ub = counted(b), uc = counted(c);
  return QOUtil_GenKeyNameEx(&ua, &ub, &uc);
}

}  // extern "C"
