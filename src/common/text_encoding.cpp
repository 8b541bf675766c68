// UTF-8 checks, UTF-16/UTF-8 conversion, multibyte/wide conversion under a
// chosen locale and byte counts of double-byte character text.
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "common/free_bytes.h"
#include "qor/qostring.h"

namespace {

constexpr size_t kSavedLocaleSize = 20;

int PartialBefore(const char* text, int length, int n) {
  if (text == nullptr || length < 1) return -1;
  if (n <= 0) return 0;
  int pos = 0;
  for (int chars = 0; chars < n && pos < length && text[pos] != '\0'; ++chars) {
    const int step = (static_cast<unsigned char>(text[pos]) & 0x80) ? 2 : 1;
    pos += step <= length - pos ? step : length - pos;  // never past |length|
  }
  return pos;
}

int PartialAfter(const char* text, int length, int n) {
  if (text == nullptr || length < 1) return -1;
  if (n <= 0) return 0;
  int pos = length;
  for (int chars = 0; chars < n && pos > 0; ++chars) {
    const int step = (static_cast<unsigned char>(text[pos - 1]) & 0x80) ? 2 : 1;
    pos -= step <= pos ? step : pos;
  }
  return length - pos;
}

}  // namespace

extern "C" {

int isUTF8(const char* bytes, int length) {
  if (bytes == nullptr || length < 0) return 0;
  const auto* s = reinterpret_cast<const unsigned char*>(bytes);
  int i = 0;
  while (i < length) {
    const unsigned lead = s[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    int extra;
    uint32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      cp = lead & 0x07;
    } else {
      return 0;
    }
    if (extra > length - i - 1) return 0;
    for (int k = 1; k <= extra; ++k) {
      const unsigned c = s[i + k];
      if ((c & 0xC0) != 0x80) return 0;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0;
    if (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
    i += extra + 1;
  }
  return 1;
}

int UCS2toUTF8(const uint16_t* units, int count, char* out) {
  if (out == nullptr) return 0;
  if (units == nullptr || count < 1) {
    out[0] = '\0';
    return 0;
  }
  auto* o = reinterpret_cast<unsigned char*>(out);
  int n = 0;
  for (int i = 0; i < count; ++i) {
    const unsigned u = units[i];
    if (u < 0x80) {
      o[n++] = static_cast<unsigned char>(u);
    } else if (u < 0x800) {
      o[n++] = static_cast<unsigned char>(0xC0 | (u >> 6));
      o[n++] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    } else {
      o[n++] = static_cast<unsigned char>(0xE0 | (u >> 12));
      o[n++] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
      o[n++] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    }
  }
  o[n] = 0;
  return n;
}

int UTF8toUCS2(const char* bytes, int length, uint16_t* out) {
  if (bytes == nullptr || out == nullptr || length <= 0) return 0;
  const auto* s = reinterpret_cast<const unsigned char*>(bytes);
  int i = 0;
  int n = 0;
  while (i < length) {
    const unsigned b = s[i];
    if (b < 0x80) {
      out[n++] = static_cast<uint16_t>(b);
      i += 1;
    } else if ((b & 0xE0) == 0xE0) {
      if (length - i < 3) break;  // cut-off sequence: nothing is read past the end
      out[n++] = static_cast<uint16_t>(((b & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F));
      i += 3;
    } else {
      if (length - i < 2) break;
      out[n++] = static_cast<uint16_t>(((b & 0x1F) << 6) | (s[i + 1] & 0x3F));
      i += 2;
    }
  }
  return n;
}

wchar_t* m2w(const char* text, int length, const char* defaultLocale, char* savedLocale) {
  if (text == nullptr || length < 0) return nullptr;
  const char* current = std::setlocale(LC_ALL, "");
  // Kept whole here even when it does not fit the caller's 20 bytes, so a
  // failed conversion can always put the locale back.
  const std::string environmentLocale = current != nullptr ? current : "C";
  if (savedLocale != nullptr && environmentLocale.size() < kSavedLocaleSize) {
    std::memcpy(savedLocale, environmentLocale.c_str(), environmentLocale.size() + 1);
  }
  const char* chosen = std::getenv("ULVEX_LOCALE");
  if (chosen != nullptr) {
    std::setlocale(LC_ALL, chosen);
  } else if (defaultLocale != nullptr && defaultLocale[0] != '\0') {
    std::setlocale(LC_ALL, defaultLocale);
  }

  // A private terminated copy keeps the conversion inside |length| bytes.
  const size_t len = strnlen(text, static_cast<size_t>(length));
  std::unique_ptr<char, qor::FreeBytes> copy(static_cast<char*>(std::malloc(len + 1)));
  if (!copy) return nullptr;
  std::memcpy(copy.get(), text, len);
  copy.get()[len] = '\0';

  std::mbstate_t state{};
  const char* src = copy.get();
  const size_t count = std::mbsrtowcs(nullptr, &src, 0, &state);
  if (count == static_cast<size_t>(-1)) {
    std::setlocale(LC_ALL, environmentLocale.c_str());
    return nullptr;
  }
  const size_t cap = (count > len ? count : len) + 1;
  auto* wide = static_cast<wchar_t*>(std::calloc(cap, sizeof(wchar_t)));
  if (wide == nullptr) return nullptr;
  std::mbstowcs(wide, copy.get(), cap - 1);
  return wide;
}

char* w2m(const wchar_t* wide, int length) {
  if (wide == nullptr || length < 0) return nullptr;
  size_t len = 0;
  while (len < static_cast<size_t>(length) && wide[len] != L'\0') ++len;
  std::unique_ptr<wchar_t, qor::FreeBytes> copy(static_cast<wchar_t*>(std::malloc((len + 1) * sizeof(wchar_t))));
  if (!copy) return nullptr;
  std::memcpy(copy.get(), wide, len * sizeof(wchar_t));
  copy.get()[len] = L'\0';

  std::mbstate_t state{};
  const wchar_t* src = copy.get();
  const size_t count = std::wcsrtombs(nullptr, &src, 0, &state);
  if (count == static_cast<size_t>(-1)) return nullptr;
  const size_t cap = (count > len ? count : len) + 1;
  auto* text = static_cast<char*>(std::calloc(cap, 1));
  if (text == nullptr) return nullptr;
  // The whole text is converted: a multibyte text may be longer than |length|.
  std::wcstombs(text, copy.get(), cap - 1);
  return text;
}

int Strlen_partial_before(const char* text, int length, int n) { return PartialBefore(text, length, n); }
int Strlen_partial_before_2(const char* text, int length, int n) { return PartialBefore(text, length, n); }
int Strlen_partial_after(const char* text, int length, int n) { return PartialAfter(text, length, n); }
int Strlen_partial_after_2(const char* text, int length, int n) { return PartialAfter(text, length, n); }

}  // extern "C"
