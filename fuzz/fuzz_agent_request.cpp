// What any client may send the stand-in agent, over a real socket pair: the
// request reader and the request checks answer everything, never read past
// what arrived, and seal an answer only for a well-formed request.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "agent/socket/client_protocol.h"
#include "library_glue.h"
#include "policy_set.h"
#include "protocol.h"
#include "served_set.h"

namespace {

std::shared_ptr<const qor::agent_tool::ServedSet> Served() {
  static std::shared_ptr<const qor::agent_tool::ServedSet> set = [] {
    std::string error;
    auto policies = qor::agent_tool::LoadPolicySet(QOR_AGENT_EXAMPLE, &error);
    if (!policies) abort();
    auto served = qor::agent_tool::ServedSet::Build(*policies, &error);
    if (!served) abort();
    return served;
  }();
  return set;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size > 4096) return 0;
  const auto set = Served();
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) abort();
  if (size > 0 && send(pair[1], data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) abort();
  shutdown(pair[1], SHUT_WR);  // the client is done: nothing more will come

  {
    qor::agent_tool::AgentConnection connection(pair[0], 1000);
    uint8_t operation = 0;
    std::vector<unsigned char> body;
    std::string error;
    const auto outcome = connection.Read(&operation, &body, &error);
    if (outcome == qor::agent_tool::ReadOutcome::kRequest) {
      // A whole request is exactly the frame that arrived.
      if (size < 5 + body.size() || operation != data[0] || body.size() > qor::agent_tool::kMaxRequestBody ||
          (!body.empty() && std::memcmp(body.data(), data + 5, body.size()) != 0)) {
        abort();
      }
      const qor::agent_tool::Answer answer =
          qor::agent_tool::AnswerRequest(operation, body.data(), body.size(), *set);
      if (answer.operation != 0 &&
          (answer.operation != operation || body.size() < qor::agent_tool::kRequestFixedLength ||
           std::memcmp(body.data(), qor::agent::kFixedField1, 8) != 0 ||
           std::memcmp(body.data() + 8, qor::agent::kFixedField2, 8) != 0)) {
        abort();
      }
      std::string sendError;
      connection.Send(answer, &sendError);
    } else if (outcome == qor::agent_tool::ReadOutcome::kRefuse) {
      std::string sendError;
      connection.Send(qor::agent_tool::Refusal(error), &sendError);
    }
  }  // the connection closes its end
  close(pair[1]);
  return 0;
}
