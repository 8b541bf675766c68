#include "context.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "qorapi.h"
#include "qorctl.h"

namespace qorctl {
namespace {

Tried gTried = Tried::kBothAgentsAndFile;

constexpr size_t kReportSize = 4096;

// The text after |label| on the report line that starts with it.
std::string Field(const std::string& report, const std::string& label) {
  size_t at = report.rfind("\n" + label, report.size());
  if (at == std::string::npos) {
    if (report.rfind(label, 0) != 0) return "";
    at = 0;
  } else {
    at += 1;
  }
  at += label.size();
  const size_t end = report.find('\n', at);
  std::string value = report.substr(at, end == std::string::npos ? std::string::npos : end - at);
  value.erase(0, value.find_first_not_of(' '));
  while (!value.empty() && value.back() == ' ') value.pop_back();
  return value;
}

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : fallback;
}

// Directory of the loaded library: where its properties file is looked for.
std::string LibraryDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&QOR_Init), &info) == 0 || info.dli_fname == nullptr) {
    return "";
  }
  std::string path = info.dli_fname;
  if (char* real = realpath(info.dli_fname, nullptr); real != nullptr) {
    path = real;
    std::free(real);
  }
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string Address(const std::string& ip, int port) { return ip + ":" + std::to_string(port); }

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string ConfigContext() {
  if (std::getenv("QOR_HOME") != nullptr) return "";
  const std::string file = LibraryDirectory() + "/UlvexDefaultConfig.properties";
  if (!Exists(file)) {
    return "QOR_HOME is not set, and there is no " + file +
           " to read the settings from instead (qorctl --help lists the QOR_* variables)";
  }
  return "QOR_HOME is not set, so the settings come from " + file;
}

std::string AgentContext(const std::string& message) {
  if (gTried == Tried::kNamedHere) return "";
  const Settings settings = LibrarySettings();
  if (!settings.known) return "";
  const std::string reason = SystemReason(message);
  const std::string first = Address(settings.firstIp, settings.firstPort);
  if (gTried == Tried::kFirstAgent) {
    return "no answer from the first agent at " + first + " (QOR_FIRST_AGENT_IP, QOR_FIRST_PORT)" +
           (reason.empty() ? "" : ": " + reason);
  }
  const std::string second = Address(settings.secondIp, settings.secondPort);
  const std::string file = settings.home + "/conf/agent.dat";
  return "no answer from the agents at " + first + " (QOR_FIRST_AGENT_IP, QOR_FIRST_PORT) and " +
         second + " (QOR_SECOND_AGENT_IP, QOR_SECOND_PORT)" + (reason.empty() ? "" : ": " + reason) +
         (Exists(file) ? "; the emergency file " + file + " could not be used"
                       : "; no emergency file " + file);
}

std::string EmergencyContext() {
  const Settings settings = LibrarySettings();
  if (!settings.known) return "";
  return "no agent answered at " + Address(settings.firstIp, settings.firstPort) + " or " +
         Address(settings.secondIp, settings.secondPort) + ", so the library read " +
         settings.home + "/conf/agent.dat";
}

std::string PolicyContext(const std::string& message) {
  const size_t open = message.find('[');
  const size_t close = message.find(']', open == std::string::npos ? 0 : open);
  if (open == std::string::npos || close == std::string::npos) return "";
  const std::string name = message.substr(open + 1, close - open - 1);
  char** names = nullptr;
  const int count = QOR_loadKeyName(&names);
  std::free(names);  // the names themselves belong to the key set
  if (count <= 0) return "";
  // The message may name where the set came from; the status report always does.
  std::string source;
  if (const size_t at = message.find("Policy Init From "); at != std::string::npos) {
    source = message.substr(at + 17);
    source.erase(source.find_last_not_of(" \r\n") + 1);
    source = source == "First Agent"      ? "first agent"
             : source == "Second Agent"   ? "second agent"
             : source == "Emergency File" ? "emergency file"
                                          : "";
  } else {
    source = LoadedFrom(StatusReport(nullptr));
  }
  const std::string from = LoadedFromWhere(source, LibrarySettings());
  return "the " + std::to_string(count) + " policies loaded" + (from.empty() ? "" : " from " + from) +
         " do not include '" + name + "' (names are case-sensitive; qorctl policies lists them)";
}

}  // namespace

void SetTried(Tried tried) { gTried = tried; }

std::string SystemReason(const std::string& message) {
  const size_t at = message.find("[code:");
  if (at == std::string::npos) return "";
  const int number = std::atoi(message.c_str() + at + 6);
  if (number <= 0) return "";
  std::string text = std::strerror(number);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

std::string ConfigurationReport() {
  char report[kReportSize];
  QOR_AgentChecker_GetInfo("show-conf", report, sizeof(report));
  const std::string text = report;
  return text == "Property is Not Initialized" ? "" : text;
}

std::string StatusReport(int* result) {
  char report[kReportSize];
  const int code = QOR_AgentChecker_GetInfo("all", report, sizeof(report));
  if (result != nullptr) *result = code;
  return report;
}

Settings LibrarySettings() {
  Settings settings;
  const std::string report = ConfigurationReport();
  if (!report.empty()) {
    settings.known = true;
    settings.home = Field(report, " Agent Home :");
    settings.firstIp = Field(report, " First IP : ");
    settings.secondIp = Field(report, " Second IP : ");
    settings.firstPort = std::atoi(Field(report, " First Port : ").c_str());
    settings.secondPort = std::atoi(Field(report, " Second Port : ").c_str());
    return settings;
  }
  // No configuration was built: what the environment would give.
  settings.known = std::getenv("QOR_HOME") != nullptr;
  settings.home = EnvOr("QOR_HOME", "");
  settings.firstIp = EnvOr("QOR_FIRST_AGENT_IP", "127.0.0.1");
  settings.secondIp = EnvOr("QOR_SECOND_AGENT_IP", settings.firstIp);
  settings.firstPort = std::atoi(EnvOr("QOR_FIRST_PORT", "9909").c_str());
  settings.secondPort = std::atoi(EnvOr("QOR_SECOND_PORT", "9911").c_str());
  return settings;
}

std::string LoadedFrom(const std::string& report) {
  const std::string from = Field(report, " Policy Init From : ");
  if (from == "First Agent") return "first agent";
  if (from == "Second Agent") return "second agent";
  if (from == "Emergency File") return "emergency file";
  return "";
}

std::string LoadedFromWhere(const std::string& from, const Settings& settings) {
  if (from == "first agent") return "the first agent at " + Address(settings.firstIp, settings.firstPort);
  if (from == "second agent") {
    return "the second agent at " + Address(settings.secondIp, settings.secondPort);
  }
  if (from == "emergency file") return "the emergency file " + settings.home + "/conf/agent.dat";
  return "";
}

std::string ContextFor(int code, const std::string& message) {
  switch (code) {
    case 7100:
      return ConfigContext();
    case 3:
    case 4:
    case 5:
    case 6:
    case 9:
      return AgentContext(message);
    case 3015:
      return PolicyContext(message);
    case 1:
      return message.find("emergency") != std::string::npos ? EmergencyContext() : "";
    default:
      return "";
  }
}

}  // namespace qorctl
