// Connections and framing over real loopback sockets: connect and its
// failures, sending records, reading framed messages whole, split, short,
// refused and oversized.
#include <fcntl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "agent/agent_test_support.h"
#include "qor/connection.h"
#include "support/log_capture.h"
#include "support/name_resolution.h"
#include "support/test_support.h"

namespace {

using qor::test::Bytes;
using qor::test::Frame;
using qor::test::FromHex;
using qor::test::LoopbackServer;

constexpr int kLimitMs = 300;

struct ConnectionDeleter {
  void operator()(Connection* c) const { c->Destroy(&c); }
};
using ConnectionPtr = std::unique_ptr<Connection, ConnectionDeleter>;

// A connection whose errors land in |error|.
struct Fixture {
  ErrorInfo error{};
  ConnectionPtr connection;

  explicit Fixture(const char* host, uint16_t port, int64_t limitMs = kLimitMs)
      : connection(Connection_Create(host, port, 1, limitMs)) {
    if (connection != nullptr) connection->SetErrorVariable(connection.get(), &error);
  }
  Connection* operator->() { return connection.get(); }
  Connection* get() { return connection.get(); }
  std::string message() const { return error.message; }
};

struct PacketHolder {
  Packet packet{};
  ~PacketHolder() { DestroyPacket(&packet); }
  Bytes body() const { return Bytes(packet.data, packet.data + std::max(packet.length, 0)); }
};

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ---- Packets ---------------------------------------------------------------

TEST(Packet, GenPacketCopiesOneRecordAndRecordAddAppendsInOrder) {
  PacketHolder p;
  unsigned char source[] = {1, 2, 3};
  const DataBuffer data{3, source};
  ASSERT_EQ(GenPacket(7, &data, &p.packet), 0);
  EXPECT_EQ(p.packet.opcode, 7);
  EXPECT_EQ(p.packet.recordCount, 1);
  ASSERT_EQ(p.packet.length, 3);
  EXPECT_NE(p.packet.data, source);
  EXPECT_EQ(p.body(), (Bytes{1, 2, 3}));
  EXPECT_EQ(p.packet.data[3], 0) << "the copy ends with a zero byte";

  for (uint8_t i = 0; i < 3; ++i) {
    auto* bytes = static_cast<unsigned char*>(std::malloc(1));
    *bytes = static_cast<unsigned char>(10 + i);
    ASSERT_EQ(RecordAdd(&p.packet, 1, bytes), 0);
  }
  EXPECT_EQ(p.packet.recordCount, 4);
  Bytes chain;
  for (PacketRecord* r = p.packet.records; r != nullptr; r = r->next) chain.push_back(r->data[0]);
  EXPECT_EQ(chain, (Bytes{10, 11, 12}));

  DestroyPacket(&p.packet);
  EXPECT_EQ(p.packet.opcode, 0);
  EXPECT_EQ(p.packet.length, 0);
  EXPECT_EQ(p.packet.data, nullptr);
  EXPECT_EQ(p.packet.records, nullptr);
  EXPECT_EQ(DestroyPacket(&p.packet), 0) << "an emptied packet can be released again";
}

TEST(Packet, RefusesMissingOrEmptyData) {
  PacketHolder p;
  unsigned char byte = 1;
  const DataBuffer empty{0, &byte}, negative{-1, &byte}, absent{4, nullptr};
  for (const DataBuffer* data : {&empty, &negative, &absent}) {
    EXPECT_EQ(GenPacket(1, data, &p.packet), -1);
  }
  EXPECT_EQ(GenPacket(1, nullptr, &p.packet), -1);
  EXPECT_EQ(RecordAdd(nullptr, 1, &byte), -1);
  EXPECT_EQ(RecordAdd(&p.packet, 1, nullptr), -1);
  EXPECT_EQ(RecordAdd(&p.packet, 0, &byte), -1);
  EXPECT_EQ(p.packet.recordCount, 0);
  EXPECT_EQ(p.packet.opcode, 0) << "a refused packet is unchanged";
}

// ---- Creation and the small accessors ---------------------------------------

TEST(Connection, HostOf44CharactersIsKeptAnd45Refused) {
  const std::string host44(44, 'h');
  Fixture ok(host44.c_str(), 9909);
  ASSERT_NE(ok.get(), nullptr);
  EXPECT_EQ(std::string(ok->GetServerIPAddress(ok.get())), host44);
  EXPECT_EQ(ok->GetServerPort(ok.get()), 9909);
  EXPECT_EQ(ok->IsAcceptSock, nullptr);
  EXPECT_EQ(Connection_Create(std::string(45, 'h').c_str(), 9909, 1, 0), nullptr);
  EXPECT_EQ(Connection_Create(nullptr, 9909, 1, 0), nullptr);
}

TEST(Connection, ChecksAddressAndPort) {
  struct Case {
    const char* host;
    uint16_t port;
    int validAddress;
    int validPort;
  } cases[] = {
      {"127.0.0.1", 1, 0, 0},        {"255.255.255.255", 65534, 0, 0}, {"256.1.1.1", 0, -1, -1},
      {"1.2.3", 65535, -1, -1},      {"localhost", 9909, -1, 0},
  };
  for (const Case& c : cases) {
    Fixture f(c.host, c.port);
    EXPECT_EQ(f->IsValidIPAddress(f.get()), c.validAddress) << c.host;
    EXPECT_EQ(f->IsValidPort(f.get()), c.validPort) << c.port;
  }
}

TEST(Connection, RefusesPortsZeroAnd65535BeforeAnySocket) {
  for (const uint16_t port : {uint16_t{0}, uint16_t{65535}}) {
    Fixture f("127.0.0.1", port);
    EXPECT_EQ(f->Connect(f.get()), -1);
    EXPECT_EQ(f.error.code, 9);
    EXPECT_EQ(f.message(), "Invalid Port [" + std::to_string(port) + "]");
  }
}

TEST(Connection, AcceptedSocketReportsItselfAndConnectsTrivially) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  Connection* c = AcceptConnection_Create(fds[0], 1, kLimitMs, 42);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->IsAcceptSock(c), 1);
  EXPECT_EQ(c->Connect(c), 0);
  EXPECT_STREQ(c->GetServerIPAddress(c), "");
  ASSERT_TRUE(qor::test::SendAll(fds[1], Frame(9, Text("pong"))));
  Packet p{};
  EXPECT_EQ(c->ReadPacket(c, &p), 0);
  EXPECT_EQ(p.opcode, 9);
  EXPECT_EQ(Bytes(p.data, p.data + p.length), Text("pong"));
  DestroyPacket(&p);
  c->Destroy(&c);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(fcntl(fds[0], F_GETFD), -1) << "Destroy closes the accepted socket";
  close(fds[1]);
}

// A close that fails must not leave the number behind: once the system hands
// it out again, a later Disconnect or Destroy would close someone else's file.
TEST(Connection, FailedCloseForgetsTheDescriptor) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  Connection* c = AcceptConnection_Create(fds[0], 1, kLimitMs, 0);
  ASSERT_NE(c, nullptr);
  close(fds[0]);       // closed behind the connection's back
  c->Disconnect(c);    // its own close now fails
  int reused[2];
  ASSERT_EQ(pipe(reused), 0);
  if (reused[0] != fds[0] && reused[1] != fds[0]) {
    close(reused[0]);
    close(reused[1]);
    close(fds[1]);
    c->Destroy(&c);
    GTEST_SKIP() << "the descriptor number was not handed out again";
  }
  c->Destroy(&c);
  EXPECT_NE(fcntl(reused[0], F_GETFD), -1);
  EXPECT_NE(fcntl(reused[1], F_GETFD), -1);
  close(reused[0]);
  close(reused[1]);
  close(fds[1]);
}

TEST(Connection, ErrorsLandAtTheEndOfTheLinkedChain) {
  ErrorInfo outer{};
  ErrorInfo middle{};
  middle.next = &outer;
  Connection* c = Connection_Create("127.0.0.1", 0, 1, kLimitMs);
  ASSERT_NE(c, nullptr);
  c->SetErrorVariable(c, &middle);
  EXPECT_EQ(c->Connect(c), -1);
  EXPECT_EQ(outer.code, 9);
  EXPECT_EQ(middle.code, 0);
  c->Destroy(&c);
}

// ---- Connect ----------------------------------------------------------------

TEST(Connect, ReachesTheServerByAddressAndByName) {
  for (const char* host : {"127.0.0.1", "localhost"}) {
    LoopbackServer server;
    server.Serve([](int fd) { qor::test::SendAll(fd, Frame(1, {0xAB})); });
    Fixture f(host, server.port());
    ASSERT_EQ(f->Connect(f.get()), 0) << host << ": " << f.message();
    PacketHolder answer;
    EXPECT_EQ(f->ReadPacket(f.get(), &answer.packet), 0) << host;
    EXPECT_EQ(answer.body(), Bytes{0xAB});
  }
}

TEST(Connect, UnknownHostNameFailsTheLookup) {
  const qor::test::ScopedResolver noNameServer;
  Fixture f("no-such-host.invalid", 9909);
  EXPECT_EQ(f->Connect(f.get()), -1);
  EXPECT_EQ(f.error.code, 3);
  EXPECT_EQ(f.message(), "DNS failed [no-such-host.invalid]");
}

TEST(Connect, ClosedPortIsRefused) {
  const uint16_t port = qor::test::ClosedPort();
  Fixture f("127.0.0.1", port);
  EXPECT_EQ(f->Connect(f.get()), -1);
  EXPECT_EQ(f.error.code, 3);
  // Loopback refuses either at once or through the poll; both name the refusal.
  const std::string refused = "[code:" + std::to_string(ECONNREFUSED) + "]";
  EXPECT_EQ(f.message().rfind(refused, 0), 0u) << f.message();
  // No socket is kept: reading fails at once instead of touching descriptor 0.
  PacketHolder p;
  EXPECT_EQ(f->ReadPacket(f.get(), &p.packet), -1);
  EXPECT_EQ(f.error.code, 6);
}

// A listener whose accept queue is full drops further handshakes, so the
// connect neither succeeds nor fails before the time limit.
TEST(Connect, StopsAtTheTimeLimitWhenThePeerNeverAnswers) {
  LoopbackServer server(0);
  std::vector<int> fillers;
  bool full = false;
  for (int i = 0; i < 16 && !full; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    fillers.push_back(fd);
    pollfd entry{fd, POLLOUT, 0};
    full = poll(&entry, 1, 200) == 0;
  }
  if (!full) {
    for (int fd : fillers) close(fd);
    GTEST_SKIP() << "the listener's queue did not fill";
  }
  Fixture f("127.0.0.1", server.port(), 200);
  EXPECT_EQ(f->Connect(f.get()), -1);
  EXPECT_EQ(f.error.code, 3);
  EXPECT_EQ(f.message(), "[code:110][200ms][IP:127.0.0.1, PORT:" + std::to_string(server.port()) +
                             "] connect timeout");
  for (int fd : fillers) close(fd);
}

// ---- Send and read -----------------------------------------------------------

struct RoundTripCase {
  const char* name;
  std::vector<Bytes> records;  // the first carries the header
};

// Test names say which case ran; the byte dump does not.
void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, ServerSeesTheRecordsAsOneFrameAndAnswers) {
  const RoundTripCase& c = GetParam();
  Bytes expected;
  for (const Bytes& r : c.records) expected.insert(expected.end(), r.begin(), r.end());

  Bytes seen;
  LoopbackServer server;
  server.Serve([&](int fd) {
    seen = qor::test::RecvFrame(fd);
    Bytes reply(seen.begin() + 5, seen.end());
    std::reverse(reply.begin(), reply.end());
    qor::test::SendAll(fd, Frame(static_cast<uint8_t>(seen[0] + 1), reply));
  });
  Fixture f("127.0.0.1", server.port());
  ASSERT_EQ(f->Connect(f.get()), 0) << f.message();

  PacketHolder out;
  const DataBuffer first{static_cast<int32_t>(c.records[0].size()),
                         const_cast<uint8_t*>(c.records[0].data())};
  ASSERT_EQ(GenPacket(c.records[0][0], &first, &out.packet), 0);
  for (size_t i = 1; i < c.records.size(); ++i) {
    auto* copy = static_cast<unsigned char*>(std::malloc(c.records[i].size()));
    std::memcpy(copy, c.records[i].data(), c.records[i].size());
    ASSERT_EQ(RecordAdd(&out.packet, static_cast<int32_t>(c.records[i].size()), copy), 0);
  }
  ASSERT_EQ(f->SendPacket(f.get(), &out.packet), 0) << f.message();

  PacketHolder in;
  ASSERT_EQ(f->ReadPacket(f.get(), &in.packet), 0) << f.message();
  server.Join();
  EXPECT_EQ(seen, expected);
  Bytes reversed(expected.begin() + 5, expected.end());
  std::reverse(reversed.begin(), reversed.end());
  EXPECT_EQ(in.packet.opcode, expected[0] + 1);
  EXPECT_EQ(in.body(), reversed);
  EXPECT_EQ(in.packet.data[in.packet.length], 0);
  EXPECT_EQ(in.packet.data[in.packet.length + 1], 0) << "two zero bytes follow the body";
}

INSTANTIATE_TEST_SUITE_P(
    Records, RoundTrip,
    ::testing::Values(
        RoundTripCase{"OneRecord", {FromHex("04 00 00 00 03 61 62 63")}},
        RoundTripCase{"HeaderThenBodyPieces",
                      {FromHex("02 00 00 00 06"), FromHex("01 02"), FromHex("03"), FromHex("04 05 06")}},
        RoundTripCase{"LargeBody", {Frame(5, Bytes(300000, 0x5A))}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(ReadPacket, AssemblesAMessageSentInPieces) {
  const Bytes message = Frame(3, Text("split across many segments"));
  LoopbackServer server;
  server.Serve([&](int fd) {
    // Header byte by byte, then the body in uneven pieces.
    size_t at = 0;
    for (size_t piece : {1, 1, 1, 1, 1, 3, 7, 100}) {
      const size_t n = std::min(piece, message.size() - at);
      qor::test::SendAll(fd, message.data() + at, n);
      at += n;
      qor::test::Pause(15);
    }
  });
  Fixture f("127.0.0.1", server.port());
  ASSERT_EQ(f->Connect(f.get()), 0);
  PacketHolder in;
  ASSERT_EQ(f->ReadPacket(f.get(), &in.packet), 0) << f.message();
  EXPECT_EQ(in.packet.opcode, 3);
  EXPECT_EQ(in.body(), Text("split across many segments"));
}

struct ShortReadCase {
  const char* name;
  Bytes sent;  // then the server closes, or waits when |stall|
  bool stall;
  int code;
  std::string message;
};

// Test names say which case ran; the byte dump does not.
void PrintTo(const ShortReadCase& c, std::ostream* os) { *os << c.name; }

class ShortRead : public ::testing::TestWithParam<ShortReadCase> {};

TEST_P(ShortRead, FailsWithTheReason) {
  const ShortReadCase& c = GetParam();
  LoopbackServer server;
  server.Serve([&](int fd) {
    qor::test::SendAll(fd, c.sent);
    if (c.stall) qor::test::Pause(kLimitMs + 300);
  });
  Fixture f("127.0.0.1", server.port());
  ASSERT_EQ(f->Connect(f.get()), 0);
  PacketHolder in;
  EXPECT_EQ(f->ReadPacket(f.get(), &in.packet), -1);
  EXPECT_EQ(f.error.code, c.code);
  EXPECT_EQ(f.message(), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShortRead,
    ::testing::Values(
        ShortReadCase{"NoAnswerInTime", {}, true, 4, "the time limit expired [300 msec]"},
        ShortReadCase{"BodyStopsInTime", Frame(1, Bytes(10, 1), 20), true, 4,
                      "the time limit expired [300 msec]"},
        ShortReadCase{"ClosedInHeader", {1, 0, 0}, false, 6,
                      "connection closed by the peer [3 of 5 header bytes received]"},
        // A truncated body must not be handed on as an answer.
        ShortReadCase{"ClosedMidBody", Frame(1, Bytes(40, 7), 100), false, 6,
                      "connection closed by the peer [40 of 100 body bytes received]"},
        // Lengths from the network are refused before they size a buffer.
        ShortReadCase{"FourGiBAnnounced", Frame(1, Bytes(8, 1), 0xFFFFFFFFu), false, 1,
                      "size of the message to be read is too large [4294967295 bytes, limit 67108864]"},
        ShortReadCase{"NegativeAsSigned", Frame(1, {}, 0x80000000u), false, 1,
                      "size of the message to be read is too large [2147483648 bytes, limit 67108864]"},
        ShortReadCase{"JustAboveTheLimit", Frame(1, {}, QOR_PACKET_BODY_MAX + 1), false, 1,
                      "size of the message to be read is too large [67108865 bytes, limit 67108864]"},
        ShortReadCase{"AtTheLimitIsRead", Frame(1, Bytes(3, 1), QOR_PACKET_BODY_MAX), false, 6,
                      "connection closed by the peer [3 of 67108864 body bytes received]"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(ReadPacket, EmptyBodyIsRecordedButReturned) {
  LoopbackServer server;
  server.Serve([](int fd) { qor::test::SendAll(fd, Frame(2, {})); });
  Fixture f("127.0.0.1", server.port());
  ASSERT_EQ(f->Connect(f.get()), 0);
  PacketHolder in;
  EXPECT_EQ(f->ReadPacket(f.get(), &in.packet), 0);
  EXPECT_EQ(in.packet.opcode, 2);
  EXPECT_EQ(in.packet.length, 0);
  EXPECT_EQ(f.error.code, 1);
  EXPECT_EQ(f.message(), "size of the message to be read is incorrect.");
}

TEST(ReadPacket, RefusalFailsAndLogsItsText) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  LoopbackServer server;
  server.Serve([](int fd) { qor::test::SendAll(fd, Frame(0, Text("agent is busy"))); });
  Fixture f("127.0.0.1", server.port());
  ASSERT_EQ(f->Connect(f.get()), 0);
  PacketHolder in;
  EXPECT_EQ(f->ReadPacket(f.get(), &in.packet), -1);
  EXPECT_EQ(in.body(), Text("agent is busy")) << "the body arrived complete";
  EXPECT_EQ(f.message(), "Receive Message [agent is busy]");
  EXPECT_NE(log.text().find("ReadPacket [source/Common/connection:"), std::string::npos) << log.text();
  EXPECT_NE(log.text().find("] >> Receive Message [agent is busy]\n"), std::string::npos);
}

TEST(SendPacket, RefusesNoDataAndZeroLengthInTheHostCodePage) {
  LoopbackServer server;
  server.Serve([](int fd) { qor::test::RecvExactly(fd, 1); });
  Fixture f("127.0.0.1", server.port());
  ASSERT_EQ(f->Connect(f.get()), 0);
  EXPECT_EQ(f->SendPacket(f.get(), nullptr), -1);
  EXPECT_EQ(f.error.code, -1);
  EXPECT_EQ(qor::test::ToHex(reinterpret_cast<const uint8_t*>(f.error.message), std::strlen(f.error.message)),
            "c0fcb4dec7d220b8debdc3c1f6b0a120bef8bdc0b4cfb4d92e");
  unsigned char byte = 1;
  Packet zero{};
  zero.data = &byte;
  zero.recordCount = 1;
  EXPECT_EQ(f->SendPacket(f.get(), &zero), -1);
  EXPECT_EQ(f.error.code, 1);
  EXPECT_EQ(qor::test::ToHex(reinterpret_cast<const uint8_t*>(f.error.message), std::strlen(f.error.message)),
            "c0fcb4dec7d220b8debdc3c1f620b1e6c0ccb0a120c0dfb8f820b5c7befabdc0b4cfb4d92e");
}

// A peer that has gone away must fail the send; the host process lives on.
TEST(SendPacket, ClosedPeerFailsWithoutSignal) {
  const std::string failure = qor::test::RunInChild([]() -> std::string {
    LoopbackServer server;
    server.Serve([](int) {});  // accept and close at once
    Fixture f("127.0.0.1", server.port());
    CHILD_CHECK(f->Connect(f.get()) == 0);
    server.Join();
    PacketHolder out;
    const Bytes big = Frame(1, Bytes(1 << 20, 1));
    const DataBuffer data{static_cast<int32_t>(big.size()), const_cast<uint8_t*>(big.data())};
    CHILD_CHECK(GenPacket(1, &data, &out.packet) == 0);
    int result = 0;
    for (int i = 0; i < 20 && result == 0; ++i) {
      result = f->SendPacket(f.get(), &out.packet);
      qor::test::Pause(10);
    }
    CHILD_CHECK(result == -1);
    CHILD_CHECK(f.error.code == 5);
    CHILD_CHECK(f.message().find("] failed to send") != std::string::npos);
    return "";
  });
  EXPECT_EQ(failure, "");
}

TEST(SendPacket, UnconnectedSendNeverReachesStandardInput) {
  Fixture f("127.0.0.1", 9909);
  const Bytes message = Frame(1, {1});
  const DataBuffer data{static_cast<int32_t>(message.size()), const_cast<uint8_t*>(message.data())};
  PacketHolder out;
  ASSERT_EQ(GenPacket(1, &data, &out.packet), 0);
  EXPECT_EQ(f->SendPacket(f.get(), &out.packet), -1);
  EXPECT_EQ(f.error.code, 5);
  EXPECT_EQ(f.message(), "[code:" + std::to_string(ENOTCONN) + "][socket:0, actualLen:6, writtenLen:-1] failed to send");
}

}  // namespace
