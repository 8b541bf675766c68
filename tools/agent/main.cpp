// qor-agent: a stand-in QOR Agent for development and tests. Serves a policy
// set from a JSON file to the library over the agent protocol on 127.0.0.1.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "server.h"

int main(int argc, char** argv) {
  qor::agent_tool::AgentOptions options;
  CLI::App app{"Stand-in QOR Agent: serves a policy set from a JSON file on 127.0.0.1.\n"
               "Reload with SIGHUP or 'qor-agent reload --home DIR'; stop with SIGTERM or\n"
               "'qor-agent stop --home DIR'."};
  app.add_option("--home", options.home, "Agent home directory (conf/ is created when missing)");
  app.add_option("--policies", options.policies, "Policy set file (JSON)");
  app.add_option("--first-port", options.firstPort, "First port (0: any free port)")
      ->check(CLI::Range(0, 65534));
  app.add_option("--second-port", options.secondPort, "Second port (0: any free port)")
      ->check(CLI::Range(0, 65534));
  app.add_option("--log", options.logPath,
                 "Log file (default: standard error with --foreground, else HOME/logs/qor-agent.log)");
  app.add_flag("--foreground", options.foreground, "Stay in the foreground");
  app.add_option("--port-file", options.portFile, "Also write the 'listening' line to this file");
  app.add_option("--max-connections", options.maxConnections, "Connections served at once")
      ->check(CLI::Range(1, 4096));
  app.add_option("--request-timeout-ms", options.requestTimeoutMs,
                 "Time one request may take from accept to answer")
      ->check(CLI::Range(100, 600000));
  app.add_option("--idle-timeout-ms", options.idleTimeoutMs,
                 "Time a connection may take to send its whole request")
      ->check(CLI::Range(100, 600000));
  app.add_option("--log-max-bytes", options.logMaxBytes,
                 "Rotate the log file when it would grow past this size (0: never)")
      ->check(CLI::Range(0L, 1L << 40));
  app.add_option("--log-keep", options.logKeep, "Rotated log files kept (LOG.1 .. LOG.N)")
      ->check(CLI::Range(1, 100));
  app.add_flag("--allow-empty", options.allowEmpty,
               "Let a reload replace the set with an empty one (refused otherwise)");

  std::string reloadHome;
  int reloadWaitMs = 10000;
  CLI::App* reload = app.add_subcommand(
      "reload", "Make the agent running on HOME reload its policy set; prints the outcome");
  reload->add_option("--home", reloadHome, "Agent home directory")->required();
  reload->add_option("--wait-ms", reloadWaitMs, "How long to wait for the outcome")
      ->check(CLI::Range(1, 600000));

  std::string stopHome;
  int stopWaitMs = 10000;
  CLI::App* stop = app.add_subcommand(
      "stop", "Stop the agent running on HOME and wait until it has ended");
  stop->add_option("--home", stopHome, "Agent home directory")->required();
  stop->add_option("--wait-ms", stopWaitMs, "How long to wait for it to end")
      ->check(CLI::Range(1, 600000));

  CLI11_PARSE(app, argc, argv);

  if (reload->parsed()) return qor::agent_tool::RequestReload(reloadHome, reloadWaitMs);
  if (stop->parsed()) return qor::agent_tool::RequestStop(stopHome, stopWaitMs);
  if (options.home.empty() || options.policies.empty()) {
    std::fprintf(stderr, "qor-agent: --home and --policies are required\n%s",
                 app.help().c_str());
    return 2;
  }
  if (options.firstPort != 0 && options.firstPort == options.secondPort) {
    std::fprintf(stderr, "qor-agent: the first and second port must differ\n");
    return 2;
  }
  return qor::agent_tool::RunAgent(options);
}
