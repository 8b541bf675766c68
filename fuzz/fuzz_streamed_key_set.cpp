// A key-set answer read while it arrives leaves what the whole answer read at
// once leaves: any plain record, sealed as the agent seals it, handed over in
// pieces the input chooses, against the same record read whole.
//   bytes 0-3: piece sizes, each byte times 37 plus one, in turn
//   byte 4, bit 0: 1 flips a bit of the sealed body at a position from bytes 5-6
//   the rest: the plain record
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/streamed_load.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  static const bool quiet = [] {
    (void)std::freopen("/dev/null", "w", stdout);  // the parser's lines
    return true;
  }();
  (void)quiet;
  if (size < 8 || size > (1 << 16)) return 0;
  const std::vector<unsigned char> plain(data + 7, data + size);
  std::vector<unsigned char> body = qor::test::SealForTest(plain);
  if ((data[4] & 1) != 0 && !body.empty()) {
    const size_t at = (size_t{data[5]} << 8 | data[6]) % body.size();
    body[at] ^= static_cast<unsigned char>(1u << (data[4] >> 5));
  }
  const qor::test::LoadOutcome whole = qor::test::LoadWhole(body, QOR_MODE_CBC, 0);
  size_t turn = 0;
  const auto pieces = [&] { return size_t{data[turn++ % 4]} * 37 + 1; };
  const qor::test::LoadOutcome streamed =
      qor::test::LoadStreamed(body, QOR_MODE_CBC, 0, 64, pieces);
  if (streamed.taken && streamed.state != whole.state) {
    std::fprintf(stderr, "whole:\n%s\nstreamed:\n%s\n", whole.state.c_str(),
                 streamed.state.c_str());
    std::abort();
  }
  return 0;
}
