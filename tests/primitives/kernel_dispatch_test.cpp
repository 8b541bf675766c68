// The kernel dispatchers of every primitive: the names tests and benchmarks
// force by must lead to the kernel of that name, the automatic choice must be
// the best one this processor runs, and forcing must be undone by null.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "primitives/aes/aes_internal.h"
#include "primitives/aria/aria_internal.h"
#include "primitives/base64/base64_internal.h"
#include "primitives/des/des_bitslice.h"
#include "primitives/lea/lea_internal.h"
#include "primitives/lsh/lsh512_core.h"
#include "primitives/seed/seed_vector.h"
#include "primitives/sha/sha_internal.h"
#include "primitives/sha3/keccak.h"

namespace {

template <auto& kKernels>
void CheckDispatcher(const char* primitive) {
  SCOPED_TRACE(primitive);
  const auto names = kKernels.Names();
  ASSERT_FALSE(names.empty());
  std::set<std::string> seen;
  const void* firstRunnable = nullptr;
  for (const char* name : names) {
    EXPECT_TRUE(seen.insert(name).second) << "duplicate " << name;
    const auto* kernel = kKernels.Find(name);
    if (kernel == nullptr) continue;
    EXPECT_STREQ(name, kernel->name);
    if (firstRunnable == nullptr) firstRunnable = kernel;
    kKernels.Force(kernel);
    EXPECT_EQ(kernel, &kKernels.Active());
  }
  // The portable kernel is the last candidate and runs everywhere.
  EXPECT_EQ(&kKernels.Portable(), kKernels.Find(names.back()));
  EXPECT_EQ(nullptr, kKernels.Find("no-such-kernel"));
  kKernels.Force(nullptr);
  EXPECT_EQ(firstRunnable, &kKernels.Active());
  EXPECT_EQ(firstRunnable, &kKernels.Best());
}

TEST(Dispatch, EveryPrimitiveFindsForcesAndRestoresItsKernels) {
  CheckDispatcher<qor::aes::g_kernels>("aes");
  CheckDispatcher<qor::aria::g_kernels>("aria");
  CheckDispatcher<qor::lea::g_kernels>("lea");
  CheckDispatcher<qor::seed::g_kernels>("seed");
  CheckDispatcher<qor::des::g_kernels>("des");
  CheckDispatcher<qor::sha::g_kernels>("sha");
  CheckDispatcher<qor::sha3::g_kernels>("sha3");
  CheckDispatcher<qor::lsh::g_kernels>("lsh");
  CheckDispatcher<qor::base64::g_kernels>("base64");
}

}  // namespace
