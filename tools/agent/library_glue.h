// The few library pieces the agent calls, behind one narrow interface so the
// rest of the program does not depend on their exact C shapes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "policy_set.h"
#include "protocol.h"

struct Connection;

namespace qor::agent_tool {

// Encrypts |plain| as the answer body to a request with |seed| and
// |operation|, with the library's own session key and cipher.
bool SealAnswer(const unsigned char* seed, uint8_t operation,
                const std::vector<unsigned char>& plain, std::vector<unsigned char>* body);

// Each policy of |set| as one encoded element of the policy record.
std::vector<std::vector<unsigned char>> EncodePolicies(const PolicySet& set);
// The whole record: the policies and the hash element in front of them.
std::vector<unsigned char> EncodeRecord(const std::vector<std::vector<unsigned char>>& policies,
                                        const std::string& hash);
// The single-key record for one key version.
std::vector<unsigned char> EncodeKeyRecord(const KeyVersion& key);

// Writes the emergency policy file "conf/agent.dat" under |home| for |record|,
// with the file secret kept under |home|.
bool WriteEmergencyFile(const std::string& home, const std::vector<unsigned char>& record,
                        std::string* error);

enum class ReadOutcome { kRequest, kRefuse, kClosed };

// One accepted connection, read and answered with the library's framing.
// Owns the socket from construction on.
class AgentConnection {
 public:
  AgentConnection(int fd, int timeLimitMs);
  ~AgentConnection();
  AgentConnection(const AgentConnection&) = delete;
  AgentConnection& operator=(const AgentConnection&) = delete;

  // kRequest: |operation| and |body| hold a complete request. kRefuse: the
  // request is answered with a refusal saying |error|. kClosed: nothing to
  // answer (peer gone, time limit).
  ReadOutcome Read(uint8_t* operation, std::vector<unsigned char>* body, std::string* error);
  bool Send(const Answer& answer, std::string* error);

 private:
  bool SendPiece(uint8_t operation, unsigned char* bytes, size_t length, std::string* error);
  bool SendSealedAsSent(const Answer& answer, std::string* error);

  int fd_;
  int timeLimitMs_;
  Connection* connection_ = nullptr;
};

}  // namespace qor::agent_tool
