// Hexadecimal text and hex-dump layouts for diagnostics.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "qor/qoutil.h"

namespace {

constexpr char kDumpHeader[] = "================== BINARY HEX ================= ==== ASCII =====\n";
constexpr char kDumpFooter[] = "---------------------------------------------------------------\n";
constexpr char kTextFooter[] = "----------------------------------------------- ----------------\n\n";
constexpr char kBin2DisplayFile[] = "./qor_bin2display.out";
constexpr char kNcBin2DisplayFile[] = "./out";
constexpr int kBytesPerLine = 16;

// Two characters per byte, high half first, from a 16-entry alphabet.
int HalfBytesToText(const UString* in, UString* out, const char* alphabet) {
  if (in == nullptr || out == nullptr || (in->data == nullptr && in->length > 0)) return -1;
  const size_t size = static_cast<size_t>(in->length) * 2;
  auto* text = static_cast<char*>(x_malloc(size + 1));
  if (text == nullptr) return -1;
  const auto* bytes = reinterpret_cast<const unsigned char*>(in->data);
  for (uint32_t i = 0; i < in->length; ++i) {
    text[2 * i] = alphabet[bytes[i] >> 4];
    text[2 * i + 1] = alphabet[bytes[i] & 0x0F];
  }
  text[size] = '\0';
  out->data = text;
  out->length = static_cast<uint32_t>(size);
  return 0;
}

// The header line, the 16-byte lines and nothing else.
std::string DumpBody(const unsigned char* bytes, int length) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text = kDumpHeader;
  if (bytes == nullptr || length < 0) length = 0;
  for (int line = 0; line < length; line += kBytesPerLine) {
    const int count = length - line < kBytesPerLine ? length - line : kBytesPerLine;
    for (int i = 0; i < count; ++i) {
      text += kHex[bytes[line + i] >> 4];
      text += kHex[bytes[line + i] & 0x0F];
      text += ' ';
    }
    text.append(static_cast<size_t>(kBytesPerLine - count) * 3, ' ');
    for (int i = 0; i < count; ++i) {
      const unsigned char c = bytes[line + i];
      text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
    }
    text += '\n';
  }
  return text;
}

void WriteDump(const char* title, const unsigned char* bytes, int length, int toStdout,
               const char* file) {
  std::string text = std::string(title != nullptr ? title : "") + " (" +
                     std::to_string(length) + ")\n";
  text += DumpBody(bytes, length);
  text += kDumpFooter;
  if (toStdout != 0) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(file, "a"), &std::fclose);
  if (out) std::fwrite(text.data(), 1, text.size(), out.get());
}

}  // namespace

extern "C" {

QOR_API int QOUtil_byte2HexaString(const UString* in, UString* out) {
  return HalfBytesToText(in, out, "0123456789ABCDEF");
}

QOR_API int QOUtil_byte2EncString(const UString* in, UString* out) {
  return HalfBytesToText(in, out, "!\"#$%&'()*+,-./0");
}

QOR_API void bin2display(const char* title, const unsigned char* bytes, int length,
                         int toStdout) {
  WriteDump(title, bytes, length, toStdout, kBin2DisplayFile);
}

QOR_API void NC_bin2display(const char* title, const unsigned char* bytes, int length,
                            int toStdout) {
  WriteDump(title, bytes, length, toStdout, kNcBin2DisplayFile);
}

QOR_API int QOUtil_bin2display(const UString* in, UString* out) {
  if (in == nullptr || out == nullptr || (in->data == nullptr && in->length > 0)) return -1;
  if (in->length > 0x7FFFFFFFu) return -1;
  const std::string text =
      DumpBody(reinterpret_cast<const unsigned char*>(in->data), static_cast<int>(in->length)) +
      kTextFooter;
  auto* buffer = static_cast<char*>(x_malloc(text.size() + 1));
  if (buffer == nullptr) return -1;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  out->data = buffer;
  out->length = static_cast<uint32_t>(text.size());
  return 0;
}

}  // extern "C"
