// Every decoder takes any text without reading or writing out of bounds,
// what the strict encoder writes decodes back to the input, and every
// Base64 kernel this processor has gives the portable kernel's results and
// leaves the same bytes in the caller's buffer.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "primitives/base64/base64_internal.h"
#include "qor/base64.h"

namespace {

// What the kernel-driven decoders and encoders let a caller see.
std::vector<unsigned char> Observe(const unsigned char* data, size_t size) {
  const int length = static_cast<int>(size);
  const char* text = reinterpret_cast<const char*>(data);
  std::vector<unsigned char> seen;
  auto put = [&](int n, const unsigned char* bytes, size_t count) {
    seen.insert(seen.end(), reinterpret_cast<const unsigned char*>(&n),
                reinterpret_cast<const unsigned char*>(&n) + sizeof n);
    if (bytes != nullptr) seen.insert(seen.end(), bytes, bytes + count);
  };
  for (int prefix : {0, 1}) {
    unsigned char* bytes = nullptr;
    const int n = QOR_Base64Decode(text, length, &bytes, prefix);
    put(n, bytes, n > 0 ? static_cast<size_t>(n) : 0);
    free(bytes);
  }
  for (size_t room : {size / 4 * 3, size + 4}) {
    std::vector<unsigned char> out(room + 8, 0xA5);
    put(QOR_Base64Decode_Buffer(text, length, out.data(), static_cast<int>(room)), out.data(), out.size());
  }
  char* encoded = nullptr;
  const int n = QOR_Base64Encode(data, length, &encoded, 1);
  put(n, reinterpret_cast<const unsigned char*>(encoded), n > 0 ? static_cast<size_t>(n) : 0);
  free(encoded);
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size > 1 << 16) return 0;
  const int length = static_cast<int>(size);
  const char* text = reinterpret_cast<const char*>(data);

  unsigned char* tolerant = nullptr;
  if (QOR_Base64Decod(text, length, &tolerant) >= 0) free(tolerant);

  char* encoded = nullptr;
  const int encodedLength = QOR_Base64Encode(data, length, &encoded, 0);
  if (encodedLength < 0) return 0;
  unsigned char* decoded = nullptr;
  const int decodedLength = QOR_Base64Decode(encoded, encodedLength, &decoded, 0);
  if (size > 0 && (decodedLength != length || memcmp(decoded, data, size) != 0)) abort();
  free(decoded);
  free(encoded);

  const auto& kernels = qor::base64::g_kernels;
  kernels.Force(&qor::base64::PortableKernels());
  const std::vector<unsigned char> expected = Observe(data, size);
  for (const char* name : kernels.Names()) {
    const qor::base64::Kernels* kernel = kernels.Find(name);
    if (kernel == nullptr) continue;
    kernels.Force(kernel);
    if (Observe(data, size) != expected) abort();
  }
  kernels.Force(nullptr);
  return 0;
}
