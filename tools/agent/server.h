// The agent process: loads the set, listens on the first and second port,
// answers requests and reloads on SIGHUP until SIGTERM.
#pragma once

#include <string>

namespace qor::agent_tool {

struct AgentOptions {
  std::string home;
  std::string policies;
  std::string logPath;   // empty: standard error in the foreground, logs/qor-agent.log otherwise
  std::string portFile;  // optional: gets the "listening" line too
  int firstPort = 9909;  // 0: any free port, reported on start
  int secondPort = 9911;
  bool foreground = false;
  int maxConnections = 64;
  int requestTimeoutMs = 5000;  // whole request, from accept to answer sent
  int idleTimeoutMs = 1000;     // from accept until the whole request is in
  long logMaxBytes = 10L << 20; // the log is rotated when it would grow past this
  int logKeep = 3;              // rotated generations kept: LOG.1 (newest) .. LOG.N
  bool allowEmpty = false;      // a reload may replace the set with an empty one
};

// Runs until SIGTERM or SIGINT: 0 after a clean stop, 1 when it could not
// start (the reason is on standard error and in the log).
int RunAgent(const AgentOptions& options);

// Asks the agent running on |home| to reload its set and waits for the
// outcome: 0 reloaded, 1 refused or no answer, 2 no agent running.
int RequestReload(const std::string& home, int waitMs);

// Asks the agent running on |home| to stop and waits until it has: 0
// stopped, 1 still running after |waitMs|, 2 no agent running.
int RequestStop(const std::string& home, int waitMs);

}  // namespace qor::agent_tool
