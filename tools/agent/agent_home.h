// Files the agent keeps under its home directory: the update stamp the
// libraries watch, the emergency policy file, its pid file and the outcome of
// the last reload.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qor::agent_tool {

inline constexpr const char* kStampFile = "/conf/.qorupdate.dat";
inline constexpr const char* kPidFile = "/conf/qor-agent.pid";
inline constexpr const char* kStatusFile = "/conf/qor-agent.status";

// Creates |home| and |home|/conf when missing: true when both exist afterwards.
bool EnsureHome(const std::string& home, std::string* error);

// Gives the stamp a new value (never the one it had) in place: the libraries
// map the file, so it must stay the same file. Returns the value written.
std::optional<uint64_t> RewriteStamp(const std::string& home, std::string* error);

bool WritePidFile(const std::string& home, std::string* error);
void RemovePidFile(const std::string& home);
// The pid in the pid file, when there is one.
std::optional<long> ReadPidFile(const std::string& home);

// One line: "ok ..." or "failed ...".
void WriteStatus(const std::string& home, const std::string& line);

// Writes |content| to |path| through a temporary file and a rename, so a
// reader never sees half a file.
bool ReplaceFile(const std::string& path, const std::string& content, std::string* error);

}  // namespace qor::agent_tool
