// OpenSSL as the reference for whole-message cipher results.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>

#include "support/bytes.h"

namespace qor::test {

// Runs all of |in| through |cipher| in one go; |pad| turns on OpenSSL's
// PKCS#7 padding. A null |iv| suits modes without one.
inline Bytes EvpCrypt(const EVP_CIPHER* cipher, bool encrypt, bool pad, const Bytes& key, const uint8_t* iv,
                      const Bytes& in) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 32);
  int n1 = 0, n2 = 0;
  EXPECT_EQ(1, EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv, encrypt ? 1 : 0));
  EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
  EXPECT_EQ(1, EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())));
  EXPECT_EQ(1, EVP_CipherFinal_ex(ctx, out.data() + n1, &n2));
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n1 + n2));
  return out;
}

}  // namespace qor::test
