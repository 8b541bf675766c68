// Stored values as callers hand them back: any bytes decrypted through every
// value entry point under every policy kind (text and binary forms, digits,
// patterns, record IVs, key versions, access rules), and any value encrypted
// and decrypted again, which must give the value back.
//   byte 0: policy (installed_key_set.h), byte 1: operation, rest: the value
#include <cstdlib>
#include <cstring>
#include <vector>

#include "installed_key_set.h"
#include "qorapi.h"

namespace {

// Room after a value: encryption pads and appends in the caller's buffer.
constexpr size_t kSpare = 64;

struct Value {
  std::vector<unsigned char> bytes;
  int length;
  Value(const unsigned char* data, size_t size) : bytes(data, data + size), length(int(size)) {
    bytes.resize(size + kSpare);
  }
  unsigned char* data() { return bytes.data(); }
};

void RoundTrip(const qor::fuzz::FuzzPolicy& fuzzPolicy, const unsigned char* data, size_t size,
               int mode) {
  const char* policy = fuzzPolicy.name;
  const bool mustMatch = fuzzPolicy.roundTrips && !qor::fuzz::EndsInReservedSegment(fuzzPolicy, data, size);
  Value in(data, size);
  DataBuffer sealed = QOR_EncryptExUdf(policy, in.data(), in.length, "user", "", "", mode);
  if (sealed.length < 0 || sealed.data == nullptr) {
    std::free(sealed.data);
    return;
  }
  Value back(sealed.data, static_cast<size_t>(sealed.length));
  DataBuffer plain = QOR_DecryptExUdf(policy, back.data(), back.length, "user", "", "", mode);
  if (mustMatch && size > 0 &&
      (plain.length != int(size) || plain.data == nullptr || std::memcmp(plain.data, data, size) != 0)) {
    abort();
  }
  std::free(plain.data);
  std::free(sealed.data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size < 2 || size > 1 << 14) return 0;
  qor::fuzz::InstallKeySet();
  const auto& policies = qor::fuzz::Policies();
  const qor::fuzz::FuzzPolicy& policy = policies[data[0] % policies.size()];
  const unsigned char* rest = data + 2;
  const size_t restLength = size - 2;
  Value in(rest, restLength);
  switch (data[1] % 7) {
    case 0:
    case 1: {
      DataBuffer out = QOR_DecryptExUdf(policy.name, in.data(), in.length, "user", "", "", data[1] % 2);
      std::free(out.data);
      break;
    }
    case 2: {
      std::free(QOR_Decrypt(policy.name, in.data(), in.length, 0));
      break;
    }
    case 3:
    case 4: {
      std::vector<unsigned char> out(restLength + 4096);
      QOR_DecryptExMsSql(policy.name, in.data(), in.length, out.data(), data[1] % 2, 0);
      break;
    }
    case 5:
    case 6:
      RoundTrip(policy, rest, restLength, data[1] % 2);
      break;
  }
  return 0;
}
