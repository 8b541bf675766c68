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
  bool avx512vbmi;
  bool gfni;
  bool vaes;
};

const Features& Get();

// The feature sets the kernels are compiled for, one name per target list,
// so that a kernel's probe and its target attribute say the same thing.

// "aes,ssse3,sse4.1": AES and ARIA with the AES instructions.
inline bool HasAesNi() {
  const Features& f = Get();
  return f.aes && f.ssse3 && f.sse41;
}
// "aes,vaes,avx2,sse4.1,ssse3": AES on 256-bit registers.
inline bool HasVaes() { return HasAesNi() && Get().vaes && Get().avx2; }
// "sha,sse4.1,ssse3": SHA-1 and SHA-256.
inline bool HasShaNi() {
  const Features& f = Get();
  return f.sha && f.sse41 && f.ssse3;
}
// "bmi,bmi2": Keccak.
inline bool HasBmi2() { return Get().bmi1 && Get().bmi2; }
// "avx2": LEA (8 blocks), LSH.
inline bool HasAvx2() { return Get().avx2; }
// "avx2,bmi,bmi2": SHA-512.
inline bool HasAvx2Bmi2() { return HasAvx2() && HasBmi2(); }
// "avx512f,avx2": LEA (16 blocks).
inline bool HasAvx512F() { return Get().avx512f && Get().avx2; }
// "avx512f,avx512vl": Keccak; with "avx2" also LSH.
inline bool HasAvx512Vl() { return Get().avx512f && Get().avx512vl; }
// "avx512f,avx512bw": bitsliced triple DES.
inline bool HasAvx512Bw() { return Get().avx512f && Get().avx512bw; }
// "avx512f,avx512bw,avx512vbmi,avx2": Base64.
inline bool HasAvx512Vbmi() { return HasAvx512Bw() && Get().avx512vbmi && Get().avx2; }
// "avx512f,avx512bw,gfni": SEED; with "avx512vl" also ARIA.
inline bool HasGfniAvx512() { return HasAvx512Bw() && Get().gfni; }

}  // namespace qor::cpu
