// The choice between a primitive's kernels (the portable code and the fast
// paths for processor extensions). Every primitive lists its candidates best
// first, each with a probe that yields the kernel only where the processor
// (and the build) can run it; the first one that answers serves the process.
// Tests and benchmarks force each path in turn through the same object.
//
// A kernel is a struct of function pointers with a `name` member. Callers
// fetch the active kernel once per call and then run whole runs of blocks
// through it, so the indirection costs one load per call, never one per block.
#pragma once

#include <atomic>
#include <cstring>
#include <span>
#include <vector>

namespace qor::primitives {

template <class Kernel>
struct Candidate {
  const char* name;          // stable across processors, for test and bench names
  const Kernel* (*probe)();  // the kernel, or null where it cannot run
};

template <class Kernel>
class Dispatcher {
 public:
  // |candidates| (static storage) lists the best kernel first and ends with
  // one whose probe always answers.
  constexpr explicit Dispatcher(std::span<const Candidate<Kernel>> candidates) : candidates_(candidates) {}
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // The kernel in use: the best one, picked on first use, unless forced.
  const Kernel& Active() const {
    const Kernel* k = active_.load(std::memory_order_acquire);
    return k != nullptr ? *k : Choose();
  }

  const Kernel& Best() const {
    for (const Candidate<Kernel>& c : candidates_) {
      if (const Kernel* k = c.probe()) return *k;
    }
    __builtin_unreachable();  // the last candidate always answers
  }

  // The portable kernel (the last candidate).
  const Kernel& Portable() const { return *candidates_.back().probe(); }

  // The kernel named |name| if this processor can run it, else null.
  const Kernel* Find(const char* name) const {
    for (const Candidate<Kernel>& c : candidates_) {
      if (std::strcmp(c.name, name) == 0) return c.probe();
    }
    return nullptr;
  }

  // Every candidate's name, runnable here or not, best first.
  std::vector<const char*> Names() const {
    std::vector<const char*> names;
    for (const Candidate<Kernel>& c : candidates_) names.push_back(c.name);
    return names;
  }

  // Tests and benchmarks: makes |kernel| the one in use for the whole
  // process; null returns to the automatic choice.
  void Force(const Kernel* kernel) const {
    active_.store(kernel != nullptr ? kernel : &Best(), std::memory_order_release);
  }

 private:
  // Out of line so that Active() stays a load and a test at every call site.
  [[gnu::cold, gnu::noinline]] const Kernel& Choose() const {
    const Kernel& best = Best();
    active_.store(&best, std::memory_order_release);
    return best;
  }

  std::span<const Candidate<Kernel>> candidates_;
  mutable std::atomic<const Kernel*> active_{nullptr};
};

}  // namespace qor::primitives
