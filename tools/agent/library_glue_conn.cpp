// The agent's use of the library's connection and session-key code.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "agent/socket/client_protocol.h"
#include "common/secure_wipe.h"
#include "library_glue.h"
#include "qor/cipher_adapters.h"
#include "qor/connection.h"
#include "qor/nc_aria.h"

namespace qor::agent_tool {
namespace {

struct CipherDeleter {
  void operator()(UACipherUtil* object) const {
    if (object != nullptr) object->Destroy(&object);
  }
};

struct PacketHolder {
  Packet packet{};
  ~PacketHolder() { DestroyPacket(&packet); }
};

// Pieces of a large answer, sealed and sent one after the other.
constexpr size_t kSealPiece = 64 * 1024;
constexpr size_t kBlock = 16;
constexpr int kSessionRounds = 16;  // the session cipher: ARIA with a 32-byte key, CBC

struct WipedCipher {
  NC_ARIA_CTX context{};
  unsigned char chain[kBlock] = {};
  ~WipedCipher() {
    SecureWipe(&context, sizeof context);
    SecureWipe(chain, sizeof chain);
  }
};

}  // namespace

bool SealAnswer(const unsigned char* seed, uint8_t operation,
                const std::vector<unsigned char>& plain, std::vector<unsigned char>* body) {
  unsigned char key[agent::kSessionKeySize];
  unsigned char iv[agent::kSessionIvSize];
  agent::DeriveSessionKey(seed, operation, key, iv);
  std::unique_ptr<UACipherUtil, CipherDeleter> cipher(agent::CreateSessionCipher(key, iv));
  SecureWipe(key, sizeof key);
  SecureWipe(iv, sizeof iv);
  if (!cipher) return false;
  DataBuffer sealed{0, nullptr};
  if (agent::EncryptAnswer(cipher.get(), plain.data(), static_cast<int32_t>(plain.size()),
                           &sealed) != 0) {
    return false;
  }
  body->assign(sealed.data, sealed.data + sealed.length);
  std::free(sealed.data);
  return true;
}

AgentConnection::AgentConnection(int fd, int timeLimitMs) : fd_(fd), timeLimitMs_(timeLimitMs) {
  // Bounds a blocking send to a client that stops reading.
  timeval limit{timeLimitMs / 1000, (timeLimitMs % 1000) * 1000};
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  // The library's reader closes its descriptor when a read fails. It gets a
  // copy, so the number the watchdog knows the connection by stays ours until
  // the handler has left the watchdog's list; a new connection cannot take it
  // over in between.
  const int copy = fcntl(fd_, F_DUPFD_CLOEXEC, 3);
  if (copy >= 0) {
    connection_ = AcceptConnection_Create(copy, 1, timeLimitMs, 0);
    if (connection_ == nullptr) close(copy);
  }
}

AgentConnection::~AgentConnection() {
  if (connection_ != nullptr) connection_->Destroy(&connection_);
  close(fd_);
}

ReadOutcome AgentConnection::Read(uint8_t* operation, std::vector<unsigned char>* body,
                                  std::string* error) {
  if (connection_ == nullptr) {
    *error = "no memory for the connection";
    return ReadOutcome::kClosed;
  }
  // Look at the header before the library's reader allocates the body, so a
  // client cannot make the agent hold more than one small request. The poll
  // only wakes once the whole header is in (low-water mark) or the peer has
  // closed, so a partial header costs no turns while it waits.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs_);
  unsigned char header[agent::kFrameHeaderSize];
  int lowWater = static_cast<int>(sizeof header);
  setsockopt(fd_, SOL_SOCKET, SO_RCVLOWAT, &lowWater, sizeof lowWater);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      *error = "no request header within the time limit";
      return ReadOutcome::kClosed;
    }
    pollfd waiting{fd_, POLLIN | POLLRDHUP, 0};
    if (poll(&waiting, 1, static_cast<int>(left)) <= 0) continue;
    const ssize_t seen = recv(fd_, header, sizeof header, MSG_PEEK | MSG_DONTWAIT);
    if (seen < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
        (waiting.revents & (POLLRDHUP | POLLHUP | POLLERR)) == 0) {
      continue;
    }
    if (seen <= 0) {
      *error = seen == 0 ? "peer closed" : std::strerror(errno);
      return ReadOutcome::kClosed;
    }
    if (static_cast<size_t>(seen) == sizeof header) break;
    // The rest of the header can no longer come once the peer has closed.
    if ((waiting.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
      *error = "peer closed after " + std::to_string(seen) + " of " +
               std::to_string(sizeof header) + " header bytes";
      return ReadOutcome::kClosed;
    }
    // Only where the low-water mark is not honoured: wait rather than spin.
    usleep(1000);
  }
  lowWater = 1;
  setsockopt(fd_, SOL_SOCKET, SO_RCVLOWAT, &lowWater, sizeof lowWater);
  const uint32_t length = (uint32_t{header[1]} << 24) | (uint32_t{header[2]} << 16) |
                          (uint32_t{header[3]} << 8) | uint32_t{header[4]};
  *operation = header[0];
  if (length > kMaxRequestBody) {
    *error = "malformed request: body of " + std::to_string(length) + " bytes";
    return ReadOutcome::kRefuse;
  }
  ErrorInfo errors{};
  connection_->SetErrorVariable(connection_, &errors);
  PacketHolder request;
  const int rc = connection_->ReadPacket(connection_, &request.packet);
  connection_->SetErrorVariable(connection_, nullptr);
  if (*operation == 0) {
    *error = "unknown operation [0]";
    return ReadOutcome::kRefuse;
  }
  if (rc != 0 || errors.code != 0) {
    // The library's reader keeps a short body; a request cut short is not
    // answered as if it were whole.
    *error = errors.message[0] != '\0' ? errors.message : "request could not be read";
    return errors.code == 1 ? ReadOutcome::kRefuse : ReadOutcome::kClosed;
  }
  body->assign(request.packet.data, request.packet.data + request.packet.length);
  return ReadOutcome::kRequest;
}

bool AgentConnection::SendPiece(uint8_t operation, unsigned char* bytes, size_t length,
                                std::string* error) {
  // A view of the caller's bytes: nothing here is released.
  Packet piece{};
  piece.opcode = operation;
  piece.recordCount = 1;
  piece.length = static_cast<int32_t>(length);
  piece.data = bytes;
  ErrorInfo errors{};
  connection_->SetErrorVariable(connection_, &errors);
  const int rc = connection_->SendPacket(connection_, &piece);
  connection_->SetErrorVariable(connection_, nullptr);
  if (rc != 0) *error = errors.message;
  return rc == 0;
}

// The bytes SealAnswer would give, sealed and sent a piece at a time, so
// that the client reads the first pieces while the rest is being sealed.
bool AgentConnection::SendSealedAsSent(const Answer& answer, std::string* error) {
  const std::vector<unsigned char>& plain = *answer.sealAsSent;
  const size_t whole = plain.size() - plain.size() % kBlock;
  const size_t sealed = whole + kBlock;  // the padding fills the last block
  if (sealed > UINT32_MAX) {
    *error = "answer too large";
    return false;
  }
  WipedCipher cipher;
  {
    unsigned char key[agent::kSessionKeySize];
    agent::DeriveSessionKey(answer.seed.data(), answer.operation, key, cipher.chain);
    const int keyed = NC_ARIA_EncKeyGen(key, &cipher.context, kSessionRounds);
    SecureWipe(key, sizeof key);
    if (keyed != 0) {
      *error = "answer could not be encrypted";
      return false;
    }
  }
  std::vector<unsigned char> piece(agent::kFrameHeaderSize + kSealPiece + kBlock);
  const auto length = static_cast<uint32_t>(sealed);
  piece[0] = answer.operation;
  piece[1] = static_cast<unsigned char>(length >> 24);
  piece[2] = static_cast<unsigned char>(length >> 16);
  piece[3] = static_cast<unsigned char>(length >> 8);
  piece[4] = static_cast<unsigned char>(length);
  size_t offset = agent::kFrameHeaderSize;  // the header goes with the first piece
  size_t done = 0;
  bool sent = true;
  while (sent) {
    const size_t take = std::min(kSealPiece, whole - done);
    unsigned char* out = piece.data() + offset;
    NC_E_ARIA_CBC_Encrypt(plain.data() + done, out, cipher.context.roundKey,
                          static_cast<int>(take), cipher.chain, cipher.context.rounds);
    if (take > 0) std::memcpy(cipher.chain, out + take - kBlock, kBlock);
    done += take;
    size_t filled = offset + take;
    const bool last = done == whole;
    if (last) {
      unsigned char block[kBlock];
      const size_t rest = plain.size() - whole;
      if (rest > 0) std::memcpy(block, plain.data() + whole, rest);
      DoPadding(block, static_cast<int>(rest), static_cast<int>(kBlock));
      NC_E_ARIA_CBC_Encrypt(block, piece.data() + filled, cipher.context.roundKey,
                            static_cast<int>(kBlock), cipher.chain, cipher.context.rounds);
      SecureWipe(block, sizeof block);
      filled += kBlock;
    }
    sent = SendPiece(answer.operation, piece.data(), filled, error);
    offset = 0;
    if (last) break;
  }
  return sent;
}

bool AgentConnection::Send(const Answer& answer, std::string* error) {
  if (connection_ == nullptr) {
    *error = "no connection";
    return false;
  }
  if (answer.sealAsSent != nullptr) return SendSealedAsSent(answer, error);
  const size_t total = agent::kFrameHeaderSize + answer.body.size();
  auto* frame = static_cast<unsigned char*>(std::malloc(total));
  if (frame == nullptr) {
    *error = "no memory";
    return false;
  }
  const auto length = static_cast<uint32_t>(answer.body.size());
  frame[0] = answer.operation;
  frame[1] = static_cast<unsigned char>(length >> 24);
  frame[2] = static_cast<unsigned char>(length >> 16);
  frame[3] = static_cast<unsigned char>(length >> 8);
  frame[4] = static_cast<unsigned char>(length);
  if (!answer.body.empty()) std::memcpy(frame + 5, answer.body.data(), answer.body.size());
  PacketHolder packet;
  if (RecordAdd(&packet.packet, static_cast<int32_t>(total), frame) != 0) {
    std::free(frame);
    *error = "no memory";
    return false;
  }
  packet.packet.opcode = answer.operation;
  ErrorInfo errors{};
  connection_->SetErrorVariable(connection_, &errors);
  const int rc = connection_->SendPacket(connection_, &packet.packet);
  connection_->SetErrorVariable(connection_, nullptr);
  if (rc != 0) *error = errors.message;
  return rc == 0;
}

}  // namespace qor::agent_tool
