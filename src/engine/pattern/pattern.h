// Partial encryption: the text operations run the policy's pattern around
// their whole-value operation, which then sees only the selected segment.
#pragma once

#include <memory>
#include <type_traits>

#include "qor/ua_cipher_util.h"

namespace qor::engine {

// The whole-value operation: encrypts or decrypts |segment| (a buffer with 17
// spare bytes after its length, which the operation may write into) into
// |segmentOut| and returns its result code. |context| is passed through; the
// caller binds everything else the operation needs (object, nullProcess,
// identities, key-fetch function).
using SegmentOperation = int (*)(void* context, DataBuffer* segment, DataBuffer* segmentOut);

// Without a pattern block: whole(in, out). With one: splits |in| by the
// pattern (|decrypt| picks the decryption rules), runs |whole| on the segment
// and writes front + segment output + back into |out| as a new zero-terminated
// buffer the caller frees. Returns the operation's result; 3104 when the
// pattern does not apply (|out| = {0, NULL}); -1 on failure (|out| = {-1, NULL}),
// and the operation's result with |out| = {-1, NULL} when its output has
// length -1. |in| is read only within its length.
int RunWithPattern(UACipherUtil** self, DataBuffer* in, DataBuffer* out, bool decrypt,
                   SegmentOperation whole, void* context);

// Any callable int(DataBuffer* segment, DataBuffer* segmentOut), e.g. a
// lambda; it is called in place, never copied or stored.
template <class Operation>
  requires std::is_invocable_r_v<int, Operation&, DataBuffer*, DataBuffer*>
int RunWithPattern(UACipherUtil** self, DataBuffer* in, DataBuffer* out, bool decrypt,
                   Operation&& whole) {
  using Callable = std::remove_reference_t<Operation>;
  return RunWithPattern(
      self, in, out, decrypt,
      [](void* context, DataBuffer* segment, DataBuffer* segmentOut) -> int {
        return (*static_cast<Callable*>(context))(segment, segmentOut);
      },
      const_cast<void*>(static_cast<const void*>(std::addressof(whole))));
}

}  // namespace qor::engine
