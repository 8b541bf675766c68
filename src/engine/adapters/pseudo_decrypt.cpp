// Decrypt entries of the one-way codes: a digest cannot be reversed, so the
// stored value comes back as it is.
#include <cstdlib>
#include <cstring>

#include "qor/cipher_adapters.h"

namespace {

int CopyInput(const DataBuffer* in, DataBuffer* out) {
  if (out != nullptr) *out = DataBuffer{0, nullptr};
  if (in == nullptr || out == nullptr || in->data == nullptr || in->length < 1) return -1;
  auto* buf = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(in->length) + 1));
  if (buf == nullptr) return -1;
  std::memcpy(buf, in->data, static_cast<size_t>(in->length));
  buf[in->length] = 0;
  *out = DataBuffer{in->length, buf};
  return 0;
}

}  // namespace

#define QOR_DEFINE_PSEUDO(Name)                                                                         \
  extern "C" QOR_API int Name(DataBuffer* in, const void*, const unsigned char*, DataBuffer* out, int32_t, \
                              int32_t) {                                                                \
    return CopyInput(in, out);                                                                          \
  }
QOR_DEFINE_PSEUDO(doSHA1DecryptPseude)
QOR_DEFINE_PSEUDO(doSHA256DecryptPseude)
QOR_DEFINE_PSEUDO(doSHA384DecryptPseude)
QOR_DEFINE_PSEUDO(doSHA512DecryptPseude)
QOR_DEFINE_PSEUDO(doSHA3_DecryptPseude)
QOR_DEFINE_PSEUDO(doLSHDecryptPseude)
