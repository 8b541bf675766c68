// Drives a CBC streaming context (Init, Update per piece, Final) over an
// input cut at given points, the same way for every block cipher.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/bytes.h"

namespace qor::test {

// The six calls of one cipher's CBC streaming interface.
template <class Ctx>
struct CbcStreamCalls {
  int (*encInit)(Ctx*);
  int (*decInit)(Ctx*);
  int (*encUpdate)(Ctx*, const uint8_t*, int, uint8_t*, int*);
  int (*decUpdate)(Ctx*, const uint8_t*, int, uint8_t*, int*);
  int (*encFinal)(Ctx*, uint8_t*, int*);
  int (*decFinal)(Ctx*, uint8_t*, int*);
};

struct StreamResult {
  int rc = 0;  // the first failing code, or a negative final length
  Bytes out;
};

// Inits |ctx| and streams |in| in pieces ending at |splits| (ascending), each
// piece a copy of its own; stops at the first call that fails.
template <class Ctx>
StreamResult RunStream(const CbcStreamCalls<Ctx>& calls, bool encrypt, Ctx& ctx, const Bytes& in,
                       const std::vector<size_t>& splits) {
  StreamResult r;
  (void)(encrypt ? calls.encInit(&ctx) : calls.decInit(&ctx));
  size_t pos = 0;
  std::vector<size_t> cuts = splits;
  cuts.push_back(in.size());
  for (size_t cut : cuts) {
    const size_t n = cut - pos;
    Bytes chunk(in.begin() + pos, in.begin() + cut);
    Bytes out(n + 32);
    int outLen = -1;
    r.rc = (encrypt ? calls.encUpdate : calls.decUpdate)(&ctx, chunk.data(), static_cast<int>(n), out.data(), &outLen);
    if (r.rc != 0) return r;
    r.out.insert(r.out.end(), out.begin(), out.begin() + outLen);
    pos = cut;
  }
  uint8_t last[16];
  int lastLen = -1;
  r.rc = (encrypt ? calls.encFinal : calls.decFinal)(&ctx, last, &lastLen);
  if (r.rc == 0 && lastLen > 0) r.out.insert(r.out.end(), last, last + lastLen);
  if (r.rc == 0 && lastLen < 0) r.rc = lastLen;
  return r;
}

// Streams |in| through an already initialised |ctx| in pieces ending at
// |cuts|, all output landing in one buffer; every Update must succeed. The
// Final call's code and length come back through |finalRc| and |finalLen|.
template <class Ctx>
Bytes StreamPieces(const CbcStreamCalls<Ctx>& calls, Ctx* ctx, bool encrypt, const Bytes& in,
                   const std::vector<size_t>& cuts, int* finalRc, int* finalLen) {
  Bytes out(in.size() + 32);
  size_t pos = 0, written = 0;
  std::vector<size_t> bounds = cuts;
  bounds.push_back(in.size());
  for (size_t end : bounds) {
    // A fresh copy so the input never shares the output buffer.
    Bytes piece(in.begin() + static_cast<long>(pos), in.begin() + static_cast<long>(end));
    int n = -1;
    const int rc = (encrypt ? calls.encUpdate : calls.decUpdate)(ctx, piece.data(), static_cast<int>(piece.size()),
                                                                 out.data() + written, &n);
    EXPECT_EQ(0, rc);
    written += static_cast<size_t>(n);
    pos = end;
  }
  int n = 0;
  *finalRc = (encrypt ? calls.encFinal : calls.decFinal)(ctx, out.data() + written, &n);
  *finalLen = n;
  if (*finalRc == 0 && n > 0) written += static_cast<size_t>(n);
  out.resize(written);
  return out;
}

}  // namespace qor::test
