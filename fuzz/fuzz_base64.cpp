// Every decoder takes any text without reading or writing out of bounds, and
// what the strict encoder writes decodes back to the input.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qor/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size > 1 << 16) return 0;
  const int length = static_cast<int>(size);
  const char* text = reinterpret_cast<const char*>(data);

  for (int prefix : {0, 1}) {
    unsigned char* bytes = nullptr;
    QOR_Base64Decode(text, length, &bytes, prefix);
    free(bytes);
  }
  unsigned char* tolerant = nullptr;
  if (QOR_Base64Decod(text, length, &tolerant) >= 0) free(tolerant);
  std::vector<unsigned char> out(size + 4);
  QOR_Base64Decode_Buffer(text, length, out.data(), static_cast<int>(out.size()));

  char* encoded = nullptr;
  const int encodedLength = QOR_Base64Encode(data, length, &encoded, 0);
  if (encodedLength < 0) return 0;
  unsigned char* decoded = nullptr;
  const int decodedLength = QOR_Base64Decode(encoded, encodedLength, &decoded, 0);
  if (size > 0 && (decodedLength != length || memcmp(decoded, data, size) != 0)) abort();
  free(decoded);
  free(encoded);
  return 0;
}
