// Runs a configuration build in a forked child with its own environment and
// brings the outcome back through a pipe, so no test leaks environment or
// global state into another.
#pragma once

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "config/config_internal.h"
#include "qor/config.h"
#include "support/test_support.h"

namespace qor::test {

inline constexpr const char* kConfigVariables[] = {
    "QOR_BYPASS",     "QOR_HOME",        "QOR_FIRST_AGENT_IP", "QOR_SECOND_AGENT_IP",
    "QOR_FIRST_PORT", "QOR_SECOND_PORT", "QOR_LOG_LEVEL",      "QOR_CRYPTO_MODE",
    "QOR_BMT",        "QOR_USE_LOG",     "QOR_COMPATIBILITY"};

// Variables to set in the child; std::nullopt unsets one (all QOR_ variables
// start unset).
using Environment = std::map<std::string, std::optional<std::string>>;

// A library home |home| (also the child's HOME) whose agents listen on
// loopback at |first| and |second|.
inline Environment LoopbackAgentEnvironment(const std::string& home, int first, int second) {
  return {{"QOR_HOME", home},
          {"QOR_FIRST_AGENT_IP", "127.0.0.1"},
          {"QOR_FIRST_PORT", std::to_string(first)},
          {"QOR_SECOND_PORT", std::to_string(second)},
          {"HOME", home}};
}

struct Outcome {
  bool isNull = true;
  QORApiData data{};
  int32_t created = 0;
  bool apiObjectIsResult = false;
  int headCode = -1;       // the caller's first record
  int code = -1;           // the caller's last record
  char message[QOR_ERROR_MESSAGE_SIZE] = {};
  bool childFailed = true;
};

inline void ApplyEnvironment(const Environment& environment) {
  for (const char* name : kConfigVariables) unsetenv(name);
  for (const auto& [name, value] : environment) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

// Runs |body| in a child process and returns what it produced.
inline Outcome InChild(const std::function<Outcome()>& body) {
  const std::optional<Outcome> outcome = qor::test::RunInChildFor<Outcome>([&] {
    Outcome produced = body();
    produced.childFailed = false;
    return produced;
  });
  if (!outcome) {
    Outcome failed;
    failed.childFailed = true;
    return failed;
  }
  return *outcome;
}

// Records what a returned object holds and releases it.
inline void Capture(QORApiConf* object, Outcome& outcome) {
  outcome.isNull = object == nullptr;
  outcome.apiObjectIsResult = apiObject == object;
  if (object != nullptr) {
    outcome.data = *object->data;
    outcome.created = object->created;
    API_Destroy(object);
  }
}

// QORGet_Info(mode) in a child with |environment|; |moduleDir| replaces the
// library-directory lookup ("" makes it fail, std::nullopt keeps the real one).
// Runs |body| in a child process with |environment| applied: "" or what went
// wrong (RunInChild).
inline std::string InChild(const Environment& environment,
                           const std::function<std::string()>& body) {
  return RunInChild([&] {
    ApplyEnvironment(environment);
    return body();
  });
}

inline Outcome BuildInChild(int mode, const Environment& environment,
                            std::optional<std::string> moduleDir) {
  return InChild([&] {
    ApplyEnvironment(environment);
    qor::config::SetModuleDirOverrideForTesting(moduleDir);
    // A two-record caller chain holding stale errors.
    ErrorInfo tail{};
    tail.code = 55;
    std::strcpy(tail.message, "stale tail");
    ErrorInfo head{};
    head.code = 44;
    std::strcpy(head.message, "stale head");
    head.next = &tail;
    Outcome outcome;
    Capture(QORGet_Info(&head, mode), outcome);
    outcome.headCode = head.code;
    outcome.code = tail.code;
    std::memcpy(outcome.message, tail.message, sizeof(outcome.message));
    return outcome;
  });
}

}  // namespace qor::test
