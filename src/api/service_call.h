// How the value and large-object entry points reach the crypto service: the
// instance's error record and callbacks bound once, identities gathered from
// the caller's variable arguments.
#pragma once

#include <cstdarg>

#include "qor/data_buffer.h"

namespace qor::api {

// The three caller texts handed unchanged to access control; absent ones
// stay null.
struct Identities {
  const char* first = nullptr;
  const char* second = nullptr;
  const char* third = nullptr;
};

// Takes three texts from |args|.
inline Identities ReadIdentities(va_list args) {
  Identities ids;
  ids.first = va_arg(args, const char*);
  ids.second = va_arg(args, const char*);
  ids.third = va_arg(args, const char*);
  return ids;
}

// The service's value operations with the instance's record and callbacks.
// Call inside a CallGuard. {-1, null} with an error when the table is empty.
DataBuffer ServiceEncrypt(int length, unsigned char* data, int keyNameLength, const char* keyName,
                          const Identities& ids, int mode);
DataBuffer ServiceDecrypt(int length, unsigned char* data, int keyNameLength, const char* keyName,
                          const Identities& ids, int mode);

}  // namespace qor::api
