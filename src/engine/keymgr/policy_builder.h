// Building a policy apart from adding it to its key manager: a large key set
// is built on several threads and still added in record order, so the result
// is the one AddKeyInfo would give.
#pragma once

#include <cstdint>

#include "qor/key_mgr.h"

namespace qor::engine {

struct BuiltPolicy {
  KeyInfo* info = nullptr;  // nullptr when building failed (and was logged)
  uint32_t algType = 0;
};

namespace builder_detail {
template <class Fn>
struct SameArguments;
template <class Result, class... Args>
struct SameArguments<Result (*)(Args...)> {
  using Build = BuiltPolicy(Args...);
};
}  // namespace builder_detail

// True when |mgr| is one of this library's key managers: only their policies
// may be built apart.
bool BuildsApart(const KeyMgr* mgr);

// What |mgr|->AddKeyInfo would add, with the same arguments, not yet added.
// Reads only |mgr|'s fixed secrets: safe on any thread.
builder_detail::SameArguments<decltype(KeyMgr::AddKeyInfo)>::Build BuildPolicy;

// Adds a built policy as AddKeyInfo would (on the thread that owns |mgr|);
// releases it when that fails. Returns the policy, or nullptr.
KeyInfo* AddBuiltPolicy(KeyMgr* mgr, BuiltPolicy built);

}  // namespace qor::engine
