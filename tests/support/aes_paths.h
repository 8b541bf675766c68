// Runs a parameterised AES test once per implementation: VAES, AES-NI and
// the portable tables (a path this processor lacks is skipped).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "primitives/aes/aes_internal.h"

namespace qor::test {

enum class AesPath { kVaes, kAesNi, kTables };

inline const qor::aes::Impl* AesImplFor(AesPath p) {
  switch (p) {
    case AesPath::kVaes: return qor::aes::VaesImpl();
    case AesPath::kAesNi: return qor::aes::AesNiImpl();
    case AesPath::kTables: break;
  }
  return &qor::aes::PortableImpl();
}

inline std::string AesPathName(const ::testing::TestParamInfo<AesPath>& p) {
  return p.param == AesPath::kVaes ? "Vaes" : p.param == AesPath::kAesNi ? "AesNi" : "Tables";
}

// Forces the parameter's implementation for the length of one test.
class AesPathTest : public ::testing::TestWithParam<AesPath> {
 protected:
  void SetUp() override {
    const qor::aes::Impl* impl = AesImplFor(GetParam());
    if (impl == nullptr) GTEST_SKIP() << "not supported by this processor";
    qor::aes::ForceImpl(impl);
  }
  void TearDown() override { qor::aes::ForceImpl(nullptr); }
};

}  // namespace qor::test
