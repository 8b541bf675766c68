#include "primitives/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace qor::cpu {
namespace {

Features Read() {
  Features f{};
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  // The compiler's checks include the operating system's register-state
  // support for the vector extensions.
  f.aes = __builtin_cpu_supports("aes");
  f.ssse3 = __builtin_cpu_supports("ssse3");
  f.sse41 = __builtin_cpu_supports("sse4.1");
  f.bmi1 = __builtin_cpu_supports("bmi");
  f.bmi2 = __builtin_cpu_supports("bmi2");
  f.avx2 = __builtin_cpu_supports("avx2");
  f.avx512f = __builtin_cpu_supports("avx512f");
  f.avx512bw = __builtin_cpu_supports("avx512bw");
  f.avx512vl = __builtin_cpu_supports("avx512vl");
  // Not every compiler knows these names; the feature bits are read directly
  // (SHA works on the SSE registers, GFNI and VAES are only used together
  // with the vector checks above).
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
    f.sha = (ebx >> 29) & 1;
    f.gfni = (ecx >> 8) & 1;
    f.vaes = (ecx >> 9) & 1;
    f.avx512vbmi = f.avx512bw && ((ecx >> 1) & 1);
  }
#endif
  return f;
}

}  // namespace

const Features& Get() {
  static const Features features = Read();
  return features;
}

}  // namespace qor::cpu
