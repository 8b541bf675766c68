// The file entry points on an installed key set: result codes and records,
// the forked encryption, and that forked encryption from a process whose
// other threads keep calling into the library never hangs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "api/entry_fixture.h"
#include "qor/file_entry.h"
#include "qor/qorfile.h"
#include "qorapi.h"

namespace {

using qor::test::EntryKeySet;
using qor::test::ReadFile;
using qor::test::RunInChild;
using qor::test::TempDir;
using qor::test::WriteFile;

std::string Content(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131) ^ (i >> 7));
  return s;
}

TEST(FileEntry, EncryptAndDecryptByPolicyName) {
  EXPECT_EQ("", RunInChild([]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    TempDir dir;
    const std::string plain = Content(300000);
    for (const char* policy : {qor::test::kAesPlain, qor::test::kAria}) {
      WriteFile(dir / "p", plain);
      CHILD_CHECK(QOR_EncryptFile(policy, (dir / "p").c_str(), (dir / "e").c_str(), 1, "app",
                                  "app", "app") == 0);
      CHILD_CHECK(QORCrypto_IsEnc_API_File((dir / "e").c_str()) == 0);
      CHILD_CHECK(QOR_DecryptFile(policy, (dir / "e").c_str(), (dir / "d").c_str(), 0) == 0);
      CHILD_CHECK(ReadFile(dir / "d") == plain);
      std::remove((dir / "d").c_str());
    }
    // A failure in the pipeline comes back as its code.
    CHILD_CHECK(QOR_EncryptFile(qor::test::kAria, (dir / "missing").c_str(),
                                (dir / "x").c_str(), 0) == -1);
    CHILD_CHECK(QOR_GetLastErrorCode() != 0);
    return "";
  }));
}

TEST(FileEntry, NullKeyNameFailsAndLeavesTheLockFree) {
  EXPECT_EQ("", RunInChild([]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    TempDir dir;
    WriteFile(dir / "p", "text");
    CHILD_CHECK(QOR_EncryptFile(nullptr, (dir / "p").c_str(), (dir / "e").c_str(), 0) == -1);
    CHILD_CHECK(QOR_DecryptFile(nullptr, (dir / "p").c_str(), (dir / "e").c_str(), 0) == -1);
    // A clear needs the write lock: it would wait forever on a lock left held.
    CHILD_CHECK(QOR_ClearKeys() == 0);
    CHILD_CHECK(keys.Install());
    CHILD_CHECK(QOR_EncryptFile(qor::test::kAesPlain, (dir / "p").c_str(), (dir / "e").c_str(),
                                0) == 0);
    return "";
  }));
}

TEST(FileEntry, RecordVariants) {
  EXPECT_EQ("", RunInChild([]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    TempDir dir;
    const std::string plain = Content(70000);
    WriteFile(dir / "p", plain);
    const std::string name = qor::test::kAria;
    FileResult* e = QOR_EncryptFile_JNI(static_cast<int>(name.size()), name.c_str(),
                                        (dir / "p").c_str(), (dir / "e").c_str(), nullptr,
                                        nullptr, nullptr);
    CHILD_CHECK(e != nullptr);
    CHILD_CHECK(e->code == 0);
    std::free(e);
    CHILD_CHECK(QORCrypto_IsEnc_API_File((dir / "e").c_str()) == 0);

    const FileResult d = QOR_DecryptFile_JNI(static_cast<int>(name.size()), name.c_str(),
                                             (dir / "e").c_str(), (dir / "d").c_str(), "a", "b",
                                             "c");
    CHILD_CHECK(d.code == 0);
    CHILD_CHECK(d.keyVersion == 5);
    CHILD_CHECK(d.time > 0);
    CHILD_CHECK(ReadFile(dir / "d") == plain);

    // The child's own code does not come back: any failure is -1.
    FileResult* failed = QOR_EncryptFile_JNI(static_cast<int>(name.size()), name.c_str(),
                                             (dir / "none").c_str(), (dir / "x").c_str(),
                                             nullptr, nullptr, nullptr);
    CHILD_CHECK(failed != nullptr);
    CHILD_CHECK(failed->code == -1);
    CHILD_CHECK(failed->tag[0] == '\0');
    std::free(failed);
    const FileResult unknown = QOR_DecryptFile_JNI(6, "nobody", (dir / "e").c_str(),
                                                   (dir / "y").c_str(), nullptr, nullptr,
                                                   nullptr);
    CHILD_CHECK(unknown.code == -1);
    CHILD_CHECK(std::string(unknown.tag) == "KED");
    return "";
  }));
}

// Other threads keep taking the library's locks (the error record, the log,
// the instance lock, the key versions) while one thread forks for a file.
// Without the fork handlers a child can start with one of them held by a
// thread it does not have and wait for it forever.
TEST(FileEntry, ForkedEncryptionBesideBusyThreads) {
  EXPECT_EQ("", RunInChild([]() -> std::string {
    alarm(90);  // a hang becomes a failure, not a stuck suite
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    TempDir dir;
    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (int t = 0; t < 4; ++t) {
      busy.emplace_back([&, t] {
        std::string value = "value to encrypt " + std::to_string(t);
        value.resize(value.size() + 32);
        while (!stop.load()) {
          DataBuffer out = QOR_EncryptExUdf(qor::test::kAesRecord,
                                            reinterpret_cast<unsigned char*>(value.data()), 20,
                                            "app", "app", "app", 0);
          std::free(out.data);
          QOR_ERR_Set(0, "busy");
          char message[1024];
          QOR_GetLastErrorMsgEx(message);
        }
      });
    }
    const std::string plain = Content(200000);
    const std::string name = qor::test::kAesPlain;
    bool ok = true;
    for (int round = 0; round < 30 && ok; ++round) {
      const std::string src = dir / ("p" + std::to_string(round));
      const std::string enc = src + ".enc";
      WriteFile(src, plain);
      FileResult* r = QOR_EncryptFile_JNI(static_cast<int>(name.size()), name.c_str(),
                                          src.c_str(), enc.c_str(), nullptr, nullptr, nullptr);
      ok = r != nullptr && r->code == 0 && QORCrypto_IsEnc_API_File(enc.c_str()) == 0;
      std::free(r);
    }
    stop = true;
    for (std::thread& t : busy) t.join();
    CHILD_CHECK(ok);
    return "";
  }));
}

}  // namespace
