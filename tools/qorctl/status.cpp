// status, policies, show-conf and check-policy: what the library sees of the
// agent, the key set and its own settings.
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
// printed when it cannot be had.
bool LoadKeySet() {
  int result = -1;
  StatusReport(&result);
  return result == 0 || (Fail(), false);
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

// Compares the agent's policy hash with the loaded set's: 0 equal, 1 changed,
// -1 the agent could not be asked (the failure is the last error). Only the
// first agent is asked; callers say so to the failure line with a TriedScope.
int CompareHash() {
  // The check fails for a changed hash or an unanswered request; only the
  // second leaves an error.
  QOR_ERR_Set(0, "");
  const int result = QOR_CheckPolicy();
  if (result == 0) return 0;
  return QOR_GetLastErrorCode() != 0 ? -1 : 1;
}

}  // namespace

int Status(bool fullReport) {
  const bool agentUp = QOR_HealthCheckAgent() == 0;
  // Loading the set below overwrites the last error; the agent's is kept.
  const int agentCode = QOR_GetLastErrorCode();
  const std::string agentMessage = QOR_GetLastErrorMsg();
  std::printf("agent: %s\n", agentUp ? "reachable" : "unreachable");

  int result = -1;
  const std::string report = StatusReport(&result);
  if (result != 0) {
    if (fullReport) std::printf("%s\n", report.c_str());
    return Fail();
  }
  const std::string from = LoadedFrom(report);
  std::printf("policies: %zu\n", PolicyNames().size());
  std::printf("loaded from: %s\n", LoadedFromWhere(from, LibrarySettings()).c_str());
  int status = kExitOk;
  if (!agentUp) {
    std::printf("policy hash: unknown\n");
  } else {
    const TriedScope firstAgent(Tried::kFirstAgent);
    switch (CompareHash()) {
      case 0:
        std::printf("policy hash: equal\n");
        break;
      case 1:
        std::printf("policy hash: changed\n");
        break;
      default:
        std::printf("policy hash: unknown\n");
        status = Fail();
    }
  }
  if (fullReport) std::printf("\n%s\n", report.c_str());
  if (!agentUp) {
    const TriedScope firstAgent(Tried::kFirstAgent);
    PrintFailure(agentCode, agentMessage);
    // Values still work from the emergency file, but the agent must come back.
    return from == "emergency file" ? kExitNotEqual : kExitFailed;
  }
  return status;
}

int Policies() {
  if (!LoadKeySet()) return kExitFailed;
  const std::vector<std::string> names = PolicyNames();
  size_t width = 0;
  for (const std::string& name : names) width = std::max(width, name.size());
  for (const std::string& name : names) {
    char description[256];
    if (QOR_DescribePolicy(name.c_str(), description, sizeof(description)) != 0) return Fail();
    std::printf("%-*s  %s\n", static_cast<int>(width), name.c_str(), description);
  }
  return kExitOk;
}

int ShowConf() {
  // The configuration is built by the first initialisation; a failure to
  // reach the agent leaves it in place and is not what is asked here.
  QOR_Init();
  const std::string report = ConfigurationReport();
  if (report.empty()) return Fail();
  std::printf("%s\n", report.c_str());
  return kExitOk;
}

int CheckPolicy() {
  if (!LoadKeySet()) return kExitFailed;
  const TriedScope firstAgent(Tried::kFirstAgent);
  switch (CompareHash()) {
    case 0:
      std::printf("policy hash: equal\n");
      return kExitOk;
    case 1:
      std::printf("policy hash: changed\n");
      return kExitNotEqual;
    default:
      return Fail();
  }
}

}  // namespace qorctl
