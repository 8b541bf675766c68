// status and policies: what the library sees of the agent and the key set.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qorapi.h"
#include "qorctl.h"

namespace qorctl {
namespace {

// Loads the key set as the first value call would; false with the failure
// line printed when it cannot be had.
bool LoadKeySet() {
  char report[4096];
  return QOR_AgentChecker_GetInfo("all", report, sizeof(report)) == 0 || (Fail(), false);
}

std::vector<std::string> PolicyNames() {
  char** names = nullptr;
  const int count = QOR_loadKeyName(&names);
  std::vector<std::string> out;
  for (int i = 0; names != nullptr && i < count; ++i) {
    if (names[i] != nullptr) out.emplace_back(names[i]);
  }
  std::free(names);  // the names themselves belong to the key set
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

int Status() {
  if (QOR_HealthCheckAgent() != 0) {
    std::printf("agent: unreachable\n");
    return Fail();
  }
  std::printf("agent: reachable\n");
  if (!LoadKeySet()) return 1;
  std::printf("policies: %zu\n", PolicyNames().size());
  // The check can fail for a changed hash or an unanswered request; only the
  // second leaves an error.
  QOR_ERR_Set(0, "");
  if (QOR_CheckPolicy() == 0) {
    std::printf("policy hash: equal\n");
    return 0;
  }
  if (QOR_GetLastErrorCode() != 0) {
    std::printf("policy hash: unknown\n");
    return Fail();
  }
  std::printf("policy hash: changed\n");
  return 0;
}

int Policies() {
  if (!LoadKeySet()) return 1;
  const std::vector<std::string> names = PolicyNames();
  size_t width = 0;
  for (const std::string& name : names) width = std::max(width, name.size());
  for (const std::string& name : names) {
    char description[256];
    if (QOR_DescribePolicy(name.c_str(), description, sizeof(description)) != 0) return Fail();
    std::printf("%-*s  %s\n", static_cast<int>(width), name.c_str(), description);
  }
  return 0;
}

}  // namespace qorctl
