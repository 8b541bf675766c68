// Large objects as callers hand them back: any bytes decrypted in the text form
// (eight-digit lengths before each piece) and the binary form (pieces of 4112
// bytes) under every policy kind, and any object encrypted and decrypted
// again, which must give the object back.
//   byte 0: policy (installed_key_set.h), byte 1: bit 0 binary form, bit 1
//   round trip; rest: the object
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "installed_key_set.h"
#include "qorapi.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size < 2 || size > 1 << 16) return 0;
  qor::fuzz::InstallKeySet();
  const auto& policies = qor::fuzz::Policies();
  const qor::fuzz::FuzzPolicy& policy = policies[data[0] % policies.size()];
  const int binary = data[1] & 1;
  std::vector<unsigned char> in(data + 2, data + size);
  const uint64_t length = in.size();
  in.resize(in.size() + 64);
  if ((data[1] & 2) == 0) {
    std::vector<unsigned char> out(length + 8192);
    QOR_DecryptLobEx(policy.name, in.data(), length, out.data(), binary, 0);
    return 0;
  }
  std::vector<unsigned char> sealed((length / 4096 + 1) * 6694 + 1);
  const int64_t sealedLength = QOR_EncryptLobEx(policy.name, in.data(), length, sealed.data(), binary, 0);
  if (sealedLength <= 0) return 0;
  sealed.resize(static_cast<size_t>(sealedLength) + 64);
  std::vector<unsigned char> back(length + 8192);
  const int64_t backLength = QOR_DecryptLobEx(policy.name, sealed.data(), uint64_t(sealedLength),
                                              back.data(), binary, 0);
  // Every piece is a value of its own: see EndsInReservedSegment.
  bool reserved = false;
  for (uint64_t start = 0; start < length; start += 4096) {
    const uint64_t piece = std::min<uint64_t>(4096, length - start);
    reserved = reserved || qor::fuzz::EndsInReservedSegment(policy, data + 2 + start, piece);
  }
  if (policy.roundTrips && length > 0 && !reserved &&
      (backLength != int64_t(length) || std::memcmp(back.data(), data + 2, length) != 0)) {
    abort();
  }
  return 0;
}
