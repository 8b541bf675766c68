// The large-object entry points through the public interface: pieces and
// their records, empty objects of each kind, failing pieces, and text forms
// that this library did not write.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/entry_fixture.h"

namespace {

using qor::test::Data;
using qor::test::EntryKeySet;
using qor::test::Owned;
using qor::test::RunInChild;

constexpr unsigned char kUntouched = 0xAB;

std::string Plain(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>("large object text "[i % 18]);
  return s;
}

// A caller's output block: |room| bytes, all kUntouched.
struct OutBlock {
  explicit OutBlock(size_t room) : bytes(room, kUntouched) {}
  unsigned char* data() { return bytes.data(); }
  bool Untouched() const {
    for (unsigned char b : bytes) {
      if (b != kUntouched) return false;
    }
    return true;
  }
  std::string str(int64_t n) const {
    return std::string(reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(n));
  }
  std::vector<unsigned char> bytes;
};

// Room the caller gives for an encrypted object of |n| bytes in text form.
size_t TextRoom(size_t n) { return (n / 4096 + 1) * 6694 + 1; }

// Clears the key set from another thread, i.e. checks that no call left the
// instance lock held. The thread is always joined: when the clear never
// returns (a lock left held) the child process stops with that reason once
// the hang guard runs out, so no thread outlives the check.
bool ClearKeysCompletesAtOnce() {
  std::atomic<bool> done{false};
  std::thread clearer([&done] {
    QOR_ClearKeys();
    done = true;
  });
  const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done && std::chrono::steady_clock::now() < guard) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!done) {
    std::fputs("QOR_ClearKeys never returned: a call left the instance lock held\n", stderr);
    std::abort();
  }
  clearer.join();
  return true;
}

TEST(LobEntry, TenThousandBytesMakeThreeTextRecords) {
  EXPECT_EQ(RunInChild([]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    std::string plain = Plain(10000);
    OutBlock out(TextRoom(plain.size()));
    const int64_t n = QOR_EncryptLobEx(qor::test::kAesRecord, Data(plain), plain.size(),
                                       out.data(), 0, 0);
    CHILD_CHECK(n > 0);
    CHILD_CHECK(out.bytes[static_cast<size_t>(n)] == 0);
    CHILD_CHECK(out.bytes[static_cast<size_t>(n) + 1] == kUntouched);

    // Each record is eight digits and the text form of its own piece.
    const std::string object = out.str(n);
    const size_t pieces[] = {4096, 4096, 1808};
    size_t at = 0, from = 0;
    for (size_t piece : pieces) {
      CHILD_CHECK(at + 8 <= object.size());
      const std::string field = object.substr(at, 8);
      CHILD_CHECK(field.find_first_not_of("0123456789") == std::string::npos);
      const size_t length = std::stoul(field);
      std::string record = object.substr(at + 8, length);
      CHILD_CHECK(record.rfind("$.", 0) == 0);
      const Owned back(QOR_DecryptExUdf(qor::test::kAesRecord, Data(record),
                                        static_cast<int>(record.size()), "", "", "", 0));
      CHILD_CHECK(back.str() == plain.substr(from, piece));
      at += 8 + length;
      from += piece;
    }
    CHILD_CHECK(at == object.size());

    std::string stored = object;
    OutBlock back(plain.size() + 2);
    CHILD_CHECK(QOR_DecryptLobEx(qor::test::kAesRecord, Data(stored), stored.size(), back.data(),
                                 0, 1, "user", "host", "program") == 10000);
    CHILD_CHECK(back.str(10000) == plain);
    CHILD_CHECK(back.bytes[10000] == 0 && back.bytes[10001] == kUntouched);
    return "";
  }), "");
}

struct BinaryCase {
  const char* policy;
  int64_t piece;  // an encrypted 4096-byte piece
  int64_t last;   // the encrypted last 1808 bytes
  bool recordIv;  // pieces differ from a separate encryption of the same bytes
};

// Binary pieces are as long as the policy's layout makes them, and the
// decrypting side cuts them there: a fixed 4112 bytes holds only for 16-byte
// blocks without version prefix or record-IV tail.
TEST(LobEntry, BinaryFormRoundTripsWhateverThePieceLayout) {
  const BinaryCase cases[] = {
      {qor::test::kAesPlain, 4112, 1824, false},
      {qor::test::kSeedCompat, 4112, 1824, false},  // blank added, same blocks
      {qor::test::kAria, 4115, 1827, false},        // version prefix
      {qor::test::kAesRecord, 4119, 1831, true},    // prefix and record IV
      {qor::test::kDes3Record, 4111, 1823, true},   // 8-byte blocks
  };
  EXPECT_EQ(RunInChild([&]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    for (const BinaryCase& c : cases) {
      std::string plain = Plain(10000);
      OutBlock out(3 * 4119 + 1);
      const int64_t n = QOR_EncryptLobEx(c.policy, Data(plain), plain.size(), out.data(), 1, 0);
      if (n != 2 * c.piece + c.last) {
        return std::string(c.policy) + ": encrypted to " + std::to_string(n);
      }
      std::string first = plain.substr(0, 4096);
      const Owned piece(QOR_EncryptExUdf(c.policy, Data(first), 4096, "", "", "", 1));
      CHILD_CHECK(piece.length() == c.piece);
      CHILD_CHECK(c.recordIv || piece.str() == out.str(c.piece));

      std::string stored = out.str(n);
      OutBlock back(plain.size() + 1);
      const int64_t m =
          QOR_DecryptLobEx(c.policy, Data(stored), stored.size(), back.data(), 1, 0);
      if (m != 10000 || back.str(10000) != plain || back.bytes[10000] != 0) {
        return std::string(c.policy) + ": decrypted to " + std::to_string(m);
      }
    }
    return "";
  }), "");
}

// Hundreds of pieces, in both forms: decryption holds every piece until the
// last one is done, and a failing last piece still leaves the caller's
// buffer untouched.
TEST(LobEntry, ObjectsOfManyPiecesRoundTrip) {
  EXPECT_EQ(RunInChild([]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    std::string plain = Plain(300 * 4096 + 77);
    for (int binary : {0, 1}) {
      OutBlock out(binary != 0 ? 302 * 4119 + 1 : TextRoom(plain.size()));
      const int64_t n =
          QOR_EncryptLobEx(qor::test::kAria, Data(plain), plain.size(), out.data(), binary, 0);
      CHILD_CHECK(n > 0);
      std::string stored = out.str(n);
      OutBlock back(plain.size() + 1);
      const int64_t m =
          QOR_DecryptLobEx(qor::test::kAria, Data(stored), stored.size(), back.data(), binary, 0);
      if (m != static_cast<int64_t>(plain.size()) || back.str(m) != plain || back.bytes[m] != 0) {
        return "form " + std::to_string(binary) + ": decrypted to " + std::to_string(m);
      }
      stored.resize(stored.size() - 1);  // the last piece no longer decrypts
      OutBlock refused(plain.size() + 1);
      CHILD_CHECK(QOR_DecryptLobEx(qor::test::kAria, Data(stored), stored.size(), refused.data(),
                                   binary, 0) < 0);
      if (!refused.Untouched()) return "form " + std::to_string(binary) + ": wrote to out";
    }
    return "";
  }), "");
}

struct EmptyCase {
  const char* policy;
  int kind;
  int udfLength;  // the value the first piece stands for; 0: none, no call
};

TEST(LobEntry, EmptyObjectsOfEachKind) {
  const EmptyCase cases[] = {
      // Unknown policy: kinds 0 and 1 never reach the service.
      {"no.such.policy", 0, 0},
      {"no.such.policy", 1, 0},
      {qor::test::kAria, 2, -1},           // empty value
      {qor::test::kAria, 3, -2},           // null value, refused: -2
      {qor::test::kAria, 4, -3},
      {qor::test::kNullEncrypted, 3, -2},  // null value, encrypted
      {qor::test::kNullEncrypted, 5, -4},
  };
  EXPECT_EQ(RunInChild([&]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    for (const EmptyCase& c : cases) {
      for (int binary : {0, 1}) {
        const std::string label = std::string(c.policy) + " kind " + std::to_string(c.kind);
        OutBlock out(TextRoom(0));
        const int64_t n =
            c.kind == 1 || c.kind >= 4
                ? QOR_EncryptLobEx(c.policy, nullptr, 0, out.data(), binary, c.kind, "a", "b", "c")
                : QOR_EncryptLobEx(c.policy, nullptr, 0, out.data(), binary, c.kind);
        if (c.udfLength == 0) {
          if (n != 0 || out.bytes[0] != 0 || out.bytes[1] != kUntouched) return label;
          continue;
        }
        std::string data = "x";
        const Owned udf(QOR_EncryptExUdf(c.policy, Data(data), c.udfLength, nullptr, nullptr,
                                         nullptr, binary));
        if (udf.length() < 0) {
          if (n != udf.length() || !out.Untouched()) return label + ": failure not passed on";
          continue;
        }
        char field[16];
        snprintf(field, sizeof(field), "%08d", udf.length());
        const std::string record = (binary ? std::string() : std::string(field)) + udf.str();
        if (n != static_cast<int64_t>(record.size()) || out.str(n) != record) {
          return label + ": not one record of the pipeline's answer";
        }
      }
    }
    // Decrypting an empty object writes the zero byte only.
    OutBlock back(4);
    CHILD_CHECK(QOR_DecryptLobEx(qor::test::kAria, nullptr, 0, back.data(), 0, 0) == 0);
    CHILD_CHECK(back.bytes[0] == 0 && back.bytes[1] == kUntouched);
    return "";
  }), "");
}

TEST(LobEntry, FailingSecondPieceWritesNothingAndReleasesTheInstance) {
  EXPECT_EQ(RunInChild([]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    // The policy refuses to encrypt a value that is already encrypted: make
    // the second piece one.
    std::string secret = "already secret";
    const Owned encrypted(QOR_EncryptExUdf(qor::test::kNoDouble, Data(secret),
                                           static_cast<int>(secret.size()), "", "", "", 0));
    CHILD_CHECK(encrypted.length() > 0);
    std::string object = Plain(4096) + encrypted.str();
    OutBlock out(TextRoom(object.size()));
    CHILD_CHECK(QOR_EncryptLobEx(qor::test::kNoDouble, Data(object), object.size(), out.data(),
                                 0, 0) == -1);
    CHILD_CHECK(QOR_GetLastErrorCode() == 3035);
    CHILD_CHECK(out.Untouched());
    CHILD_CHECK(ClearKeysCompletesAtOnce());

    // Decryption: a second record that is not Base64.
    CHILD_CHECK(keys.Install());
    std::string plain = Plain(5000);
    OutBlock good(TextRoom(plain.size()));
    const int64_t n =
        QOR_EncryptLobEx(qor::test::kAria, Data(plain), plain.size(), good.data(), 0, 0);
    CHILD_CHECK(n > 0);
    std::string stored = good.str(n);
    const size_t second = 8 + std::stoul(stored.substr(0, 8)) + 8;
    stored.replace(second + 2, 4, "!!!!");
    OutBlock back(plain.size() + 1);
    CHILD_CHECK(QOR_DecryptLobEx(qor::test::kAria, Data(stored), stored.size(), back.data(), 0,
                                 0) == -1);
    CHILD_CHECK(QOR_GetLastErrorCode() == 3031);
    CHILD_CHECK(back.Untouched());
    CHILD_CHECK(ClearKeysCompletesAtOnce());
    return "";
  }), "");
}

struct MalformedCase {
  const char* name;
  // Builds the text form from a valid two-record object.
  std::string (*make)(const std::string& valid);
};

size_t FirstRecordEnd(const std::string& valid) { return 8 + std::stoul(valid.substr(0, 8)); }

const MalformedCase kMalformed[] = {
    {"field cut short", [](const std::string&) { return std::string("00001"); }},
    {"letter in the field",
     [](const std::string& v) { return std::string("0000a") + v.substr(5); }},
    {"signed field", [](const std::string& v) { return "+" + v.substr(1); }},
    {"blank in the field", [](const std::string& v) { return " " + v.substr(1); }},
    {"field one past the end",
     [](const std::string& v) {
       char field[9];
       snprintf(field, sizeof(field), "%08zu", v.size() - 8 + 1);
       return std::string(field) + v.substr(8);
     }},
    {"largest field", [](const std::string& v) { return "99999999" + v.substr(8); }},
    {"second record cut short", [](const std::string& v) { return v.substr(0, v.size() - 10); }},
    {"second field cut short",
     [](const std::string& v) { return v.substr(0, FirstRecordEnd(v) + 3); }},
    {"second field not digits",
     [](const std::string& v) {
       std::string s = v;
       s[FirstRecordEnd(v) + 7] = 'x';
       return s;
     }},
    {"trailing bytes", [](const std::string& v) { return v + "0000"; }},
};

TEST(LobEntry, MalformedTextFormsAreRefused) {
  EXPECT_EQ(RunInChild([]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    std::string plain = Plain(5000);
    OutBlock good(TextRoom(plain.size()));
    const int64_t n =
        QOR_EncryptLobEx(qor::test::kAria, Data(plain), plain.size(), good.data(), 0, 0);
    CHILD_CHECK(n > 0);
    const std::string valid = good.str(n);
    for (const MalformedCase& c : kMalformed) {
      const std::string text = c.make(valid);
      // An exact heap block, so a read past the object is a read past the block.
      auto* input = static_cast<unsigned char*>(std::malloc(text.size()));
      std::memcpy(input, text.data(), text.size());
      OutBlock out(plain.size() + 16);
      QOR_ERR_Set(0, "none");
      const int64_t result =
          QOR_DecryptLobEx(qor::test::kAria, input, text.size(), out.data(), 0, 0);
      std::free(input);
      if (result != -1) return std::string(c.name) + ": result " + std::to_string(result);
      if (QOR_GetLastErrorCode() != 3031 ||
          std::string(QOR_GetLastErrorMsg()).rfind("Invalid large object: ", 0) != 0) {
        return std::string(c.name) + ": " + QOR_GetLastErrorMsg();
      }
      if (!out.Untouched()) return std::string(c.name) + ": wrote to out";
    }
    CHILD_CHECK(ClearKeysCompletesAtOnce());
    return "";
  }), "");
}

}  // namespace
