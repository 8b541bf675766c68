// Runs a parameterised test once per kernel of a primitive: each fast path
// and the portable code (a path this processor lacks is skipped), through the
// primitive's dispatcher, and once more with the dispatcher's own choice
// ("auto"), as callers get it.
//
//   class AriaTest : public qor::test::KernelPathTest<qor::aria::g_kernels> {};
//   QOR_INSTANTIATE_KERNEL_PATHS(AriaTest, qor::aria::g_kernels);
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace qor::test {

inline constexpr char kAutomaticChoice[] = "auto";

// Every kernel name of |kernels|, then the automatic choice.
template <typename Kernels>
std::vector<const char*> KernelPathParams(const Kernels& kernels) {
  std::vector<const char*> params = kernels.Names();
  params.push_back(kAutomaticChoice);
  return params;
}

// Forces the parameter's kernel for the length of one test.
template <auto& kKernels>
class KernelPathTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (std::string(GetParam()) == kAutomaticChoice) {
      kKernels.Force(nullptr);
      return;
    }
    const auto* kernel = kKernels.Find(GetParam());
    if (kernel == nullptr) GTEST_SKIP() << GetParam() << " is not supported by this processor";
    kKernels.Force(kernel);
  }
  void TearDown() override { kKernels.Force(nullptr); }

  // The parameter's place in the list of kernels, best first: lets a test
  // vary its random inputs from path to path.
  unsigned PathIndex() const {
    const auto names = kKernels.Names();
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == GetParam()) return static_cast<unsigned>(i);
    }
    return 0;
  }
};

// "gfni-avx512" -> "gfni_avx512": test names take letters, digits and '_'.
inline std::string KernelPathName(const ::testing::TestParamInfo<const char*>& info) {
  std::string name = info.param;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

}  // namespace qor::test

#define QOR_INSTANTIATE_KERNEL_PATHS(Fixture, kernels) \
  INSTANTIATE_TEST_SUITE_P(Paths, Fixture, ::testing::ValuesIn(::qor::test::KernelPathParams(kernels)), \
                           ::qor::test::KernelPathName)
