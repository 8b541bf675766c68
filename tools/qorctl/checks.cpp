// health, self-test and reinit: the agents, the server behind them, the
// library's own cipher check, and a fresh start from the settings' sources.
#include <cstdio>
#include <string>

#include "context.h"
#include "qorapi.h"
#include "qorctl.h"

namespace qorctl {
namespace {

std::string Address(const std::string& ip, int port) { return ip + ":" + std::to_string(port); }

// Prints "NAME: healthy" or "NAME: not healthy"; on failure also the
// library's failure line and |where| (with the system's reason) under it.
// Returns whether it was healthy.
bool Show(const std::string& name, bool healthy, const std::string& where) {
  std::printf("%s: %s\n", name.c_str(), healthy ? "healthy" : "not healthy");
  std::fflush(stdout);
  if (!healthy) {
    const TriedScope named(Tried::kNamedHere);
    const std::string message = QOR_GetLastErrorMsg();
    const std::string reason = SystemReason(message);
    PrintFailure(QOR_GetLastErrorCode(), message,
                 where.empty() ? "" : where + (reason.empty() ? "" : ": " + reason));
  }
  return healthy;
}

}  // namespace

int Health() {
  // The first check builds a configuration of its own; one that cannot be
  // built is the only failure reported before any line.
  QOR_ERR_Set(0, "");
  const bool first = QOR_HealthCheckAgent() == 0;
  if (!first && QOR_GetLastErrorCode() == 7100) return Fail();
  const int firstCode = QOR_GetLastErrorCode();
  const std::string firstMessage = QOR_GetLastErrorMsg();
  // The instance's configuration (a setter that changes nothing builds it):
  // the addresses the library uses, whatever their source.
  QOR_SetUseLog(1);
  const Settings settings = LibrarySettings();
  const std::string firstAddress = Address(settings.firstIp, settings.firstPort);
  const std::string secondAddress = Address(settings.secondIp, settings.secondPort);

  bool healthy = true;
  std::printf("first agent %s: %s\n", firstAddress.c_str(), first ? "healthy" : "not healthy");
  std::fflush(stdout);
  if (!first) {
    const TriedScope firstOnly(Tried::kFirstAgent);
    PrintFailure(firstCode, firstMessage);
    healthy = false;
  }
  // The server is asked through the first agent.
  healthy &= Show("server (through the first agent)", QOR_HealthCheckServer() == 0,
                  first ? "" : "the server is asked through the first agent at " + firstAddress);
  // The second agent is asked the same way, with the first address pointed at it.
  QOR_SetFirstIp(settings.secondIp.c_str());
  QOR_SetFirstPort(settings.secondPort);
  healthy &= Show("second agent " + secondAddress, QOR_HealthCheckAgent() == 0,
                  "no answer from the second agent at " + secondAddress +
                      " (QOR_SECOND_AGENT_IP, QOR_SECOND_PORT)");
  return healthy ? kExitOk : kExitFailed;
}

int SelfTest() {
  if (QOR_CheckCryptoModule() != 0) {
    std::printf("crypto self-test: failed\n");
    return Report("qorctl: the library's crypto self-test (an ARIA-256 known answer) failed",
                  kExitFailed);
  }
  std::printf("crypto self-test: passed\n");
  return kExitOk;
}

int Reinit() {
  char report[4096];
  const int result = QOR_AgentChecker_GetInfo("reinit", report, sizeof(report));
  std::string text = report;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  std::printf("%s\n", text.c_str());
  return result == 0 ? kExitOk : Fail();
}

}  // namespace qorctl
