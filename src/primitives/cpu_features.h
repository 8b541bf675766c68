// The processor features the fast paths need, read once per process.
#pragma once

namespace qor::cpu {

struct Features {
  bool aes;
  bool ssse3;
  bool sse41;
  bool sha;
  bool bmi1;
  bool bmi2;
  bool avx2;
  bool avx512f;
  bool avx512bw;
  bool avx512vl;
  bool gfni;
  bool vaes;
};

const Features& Get();

}  // namespace qor::cpu
