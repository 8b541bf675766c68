// Counted-text helpers: trimming, tokenising, replacing, key names.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "qor/qostring.h"

namespace {

constexpr bool IsTrimSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

char* DupBytes(const char* p, size_t n) {
  char* copy = static_cast<char*>(std::malloc(n + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, p, n);
  copy[n] = '\0';
  return copy;
}

}  // namespace

extern "C" {

void FreeUString(UString* s) {
  if (s == nullptr) return;
  std::free(s->data);
  s->data = nullptr;
  s->length = 0;
}

int QOString_Tokenizer(QOTokenList* tokens, const char* text, char delimiter) {
  if (tokens == nullptr) return 0;
  tokens->count = 0;
  tokens->tokens = nullptr;
  if (text == nullptr || text[0] == '\0') return 0;

  const size_t len = std::strlen(text);
  size_t delimiters = 0;
  size_t last = 0;
  for (size_t i = 0; i < len; ++i) {
    if (text[i] == delimiter) {
      ++delimiters;
      last = i;
    }
  }
  size_t count = 1;
  if (delimiters > 0) count = (last + 1 < len) ? delimiters + 1 : delimiters;
  if (count > INT32_MAX) return 0;

  auto* list = static_cast<UString*>(std::calloc(count, sizeof(UString)));
  if (list == nullptr) return 0;
  size_t pos = 0;
  for (size_t t = 0; t < count; ++t) {
    size_t end = pos;
    while (end < len && text[end] != delimiter) ++end;
    const size_t n = end - pos;
    if (n > 0) {
      if (n > UINT32_MAX || (list[t].data = DupBytes(text + pos, n)) == nullptr) {
        QOTokenList partial{static_cast<int32_t>(count), list};
        QOString_FreeToken(&partial);
        return 0;
      }
      list[t].length = static_cast<uint32_t>(n);
    }
    pos = end + 1;
  }
  tokens->count = static_cast<int32_t>(count);
  tokens->tokens = list;
  return 1;
}

void QOString_FreeToken(QOTokenList* tokens) {
  if (tokens == nullptr) return;
  if (tokens->tokens != nullptr) {
    for (int32_t i = 0; i < tokens->count; ++i) FreeUString(&tokens->tokens[i]);
    std::free(tokens->tokens);
  }
  tokens->tokens = nullptr;
  tokens->count = 0;
}

int QOString_CountCharacter(const char* text, char c) {
  if (text == nullptr) return 0;
  int n = 0;
  for (; *text != '\0'; ++text) n += (*text == c);
  return n;
}

int QOString_RTrim(UString* counted) {
  if (counted == nullptr || counted->data == nullptr) return -1;
  uint32_t n = counted->length;
  while (n > 0 && IsTrimSpace(counted->data[n - 1])) counted->data[--n] = '\0';
  counted->length = n;
  return static_cast<int>(n);
}

int QOString_Trim(char* text, size_t size) {
  if (text == nullptr) return -1;
  const size_t len = strnlen(text, size);
  size_t start = 0;
  while (start < len && IsTrimSpace(text[start])) ++start;
  size_t end = len;
  while (end > start && IsTrimSpace(text[end - 1])) --end;
  const size_t kept = end - start;
  if (start > 0) std::memmove(text, text + start, kept);
  std::memset(text + kept, 0, len - kept);
  return static_cast<int>(kept);
}

char* QOString_Strlwr(char* text) {
  if (text == nullptr) return nullptr;
  for (char* p = text; *p != '\0'; ++p) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return text;
}

char* QOString_Strupr(char* text) {
  if (text == nullptr) return nullptr;
  for (char* p = text; *p != '\0'; ++p) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  return text;
}

int QOString_EndWith(const char* text, char c) {
  if (text == nullptr) return -1;
  const size_t len = std::strlen(text);
  if (len == 0 || text[len - 1] != c) return -1;
  return static_cast<int>(len - 1);
}

int QOString_StartWith(const char* text, const char* prefix) {
  if (text == nullptr || prefix == nullptr) return 0;
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0 ? 1 : 0;
}

int QOString_ReplaceAll(const char* text, const char* oldText, const char* newText, char** out) {
  if (text == nullptr || oldText == nullptr || newText == nullptr || out == nullptr) return -1;
  const size_t textLen = std::strlen(text);
  const size_t oldLen = std::strlen(oldText);
  const size_t newLen = std::strlen(newText);

  size_t occurrences = 0;
  if (oldLen > 0) {
    for (const char* p = std::strstr(text, oldText); p != nullptr; p = std::strstr(p + oldLen, oldText)) {
      ++occurrences;
    }
  }
  if (occurrences == 0) {
    char* copy = DupBytes(text, textLen);
    if (copy == nullptr) return -1;
    *out = copy;
    return 0;
  }
  // textLen - occurrences * oldLen is the untouched part; it cannot underflow.
  const size_t kept = textLen - occurrences * oldLen;
  if (newLen != 0 && occurrences > (SIZE_MAX - kept - 1) / newLen) return -1;
  char* result = static_cast<char*>(std::malloc(kept + occurrences * newLen + 1));
  if (result == nullptr) return -1;
  char* w = result;
  const char* r = text;
  for (const char* p = std::strstr(r, oldText); p != nullptr; p = std::strstr(r, oldText)) {
    std::memcpy(w, r, static_cast<size_t>(p - r));
    w += p - r;
    std::memcpy(w, newText, newLen);
    w += newLen;
    r = p + oldLen;
  }
  const size_t rest = textLen - static_cast<size_t>(r - text);
  std::memcpy(w, r, rest);
  w[rest] = '\0';
  *out = result;
  return 0;
}

int64_t QOString_strtoll(const char* text) {
  if (text == nullptr) return 0;
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  return end == text ? 0 : static_cast<int64_t>(v);
}

char* QOString_Strcat(char* dst, const char* src) {
  if (dst == nullptr) return nullptr;
  char* end = dst + std::strlen(dst);
  if (src == nullptr) return end;
  const size_t n = std::strlen(src);
  std::memmove(end, src, n + 1);
  return end + n;
}

int QOString_KeyName2ObjectName(UString* counted) {
  if (counted == nullptr || counted->data == nullptr || counted->length == 0) return -1;
  char* data = counted->data;
  const uint32_t len = counted->length;
  uint32_t dots = 0;
  uint32_t last = 0;
  for (uint32_t i = 0; i < len; ++i) {
    if (data[i] == '.') {
      ++dots;
      last = i;
    }
  }
  if (dots != 3) return -1;
  // A trailing dot is the last dot, so both cases cut there.
  data[last] = '\0';
  counted->length = last;
  return 0;
}

int QOString_CreateObjectNameFromKeyName(const UString* keyName, UString* objectName) {
  if (keyName == nullptr || objectName == nullptr || keyName->data == nullptr || keyName->length == 0) {
    return -1;
  }
  const char* data = keyName->data;
  uint32_t cut = 0;  // no dot: empty object name
  for (uint32_t i = keyName->length; i > 0; --i) {
    if (data[i - 1] == '.') {
      cut = i - 1;
      break;
    }
  }
  char* copy = DupBytes(data, cut);
  if (copy == nullptr) return -1;
  objectName->data = copy;
  objectName->length = cut;
  return 0;
}

}  // extern "C"
