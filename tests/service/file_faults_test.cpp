// File runs that go wrong: a cipher that cannot start, a wrong key, damaged
// headers, targets that cannot be written, writes that stop part way, sources
// that cannot be read, and processes killed in the middle of an in-place run.
// Whatever happens, the original or the complete encrypted file is where the
// user left it.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "service/file_support.h"

namespace {

namespace fs = std::filesystem;
using qor::test::DecryptFile;
using qor::test::EncryptFile;
using qor::test::Exists;
using qor::test::FilePolicy;
using qor::test::FileService;
using qor::test::RandomText;
using qor::test::ReadFile;
using qor::test::RunInChild;
using qor::test::WriteFile;

class FileFaults : public FileService {
 protected:
  void SetUp() override {
    FileService::SetUp();
    AddFile(FilePolicy("files"), {4});
    // The same key version under another cipher: a wrong key for "files".
    auto other = FilePolicy("other.key");
    other.keyLength = 32;
    AddFile(other, {4});
  }
};

// A policy whose algorithm has no streaming cipher cannot start the body:
// the run fails and leaves nothing behind.
TEST_F(FileFaults, CipherThatCannotStartFailsAndRollsBack) {
  auto args = FilePolicy("digest.only");
  args.algorithm = "SHA256";
  AddFile(args);
  WriteFile(Path("p"), "plain");
  const auto e = EncryptFile("digest.only", Path("p"), Path("t"));
  EXPECT_EQ(-1, e.code);
  EXPECT_EQ("KED", e.tag);
  EXPECT_FALSE(Exists(Path("t")));
  EXPECT_EQ("plain", ReadFile(Path("p")));
  const auto inPlace = EncryptFile("digest.only", Path("p"), Path("p"));
  EXPECT_EQ(-1, inPlace.code);
  EXPECT_EQ("plain", ReadFile(Path("p")));
  EXPECT_FALSE(Exists(Path("p") + QOR_FILE_SWAP_SUFFIX));
}

TEST_F(FileFaults, WrongKeyFailsAndKeepsTheEncryptedFile) {
  WriteFile(Path("p"), RandomText(5000, 1));
  ASSERT_EQ(0, EncryptFile("files", Path("p"), Path("e")).code);
  const std::string encrypted = ReadFile(Path("e"));
  for (const bool inPlace : {false, true}) {
    SCOPED_TRACE(inPlace ? "in place" : "to a target");
    const std::string target = inPlace ? Path("e") : Path("d");
    const auto d = DecryptFile("other.key", Path("e"), target);
    EXPECT_EQ(-1, d.code);
    EXPECT_EQ("KED", d.tag);
    EXPECT_EQ(encrypted, ReadFile(Path("e")));
    EXPECT_FALSE(Exists(Path("d")));
    EXPECT_FALSE(Exists(Path("e") + QOR_FILE_SWAP_SUFFIX));
  }
}

// A header whose digests do not match the data: the run reports it through
// the flags, and the encrypted file is kept, as the only copy to trust. In
// place it is not replaced at all.
TEST_F(FileFaults, FailedVerificationKeepsTheEncryptedFile) {
  const std::string plain = RandomText(40000, 2);
  WriteFile(Path("p"), plain);
  ASSERT_EQ(0, EncryptFile("files", Path("p"), Path("e")).code);
  std::string damaged = ReadFile(Path("e"));
  damaged[190] ^= 1;  // inside the plaintext digest of a type-2 header
  WriteFile(Path("e"), damaged);

  const auto d = DecryptFile("files", Path("e"), Path("d"));
  EXPECT_EQ(0, d.code);
  EXPECT_EQ(0, d.plaintextVerified);
  EXPECT_EQ(1, d.ciphertextVerified);
  EXPECT_EQ(damaged, ReadFile(Path("e")));
  EXPECT_TRUE(ReadFile(Path("d")) == plain);

  const auto inPlace = DecryptFile("files", Path("e"), Path("e"));
  EXPECT_EQ(-1, inPlace.code);
  EXPECT_EQ(damaged, ReadFile(Path("e")));
  EXPECT_FALSE(Exists(Path("e") + QOR_FILE_SWAP_SUFFIX));
}

TEST_F(FileFaults, UnreadableSources) {
  struct Case {
    const char* desc;
    const char* source;
  } cases[] = {{"missing", "missing"}, {"a directory", "dir"}};
  fs::create_directories(Path("dir"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    const auto e = EncryptFile("files", Path(c.source), Path("t"));
    EXPECT_EQ(-1, e.code);
    EXPECT_EQ("IOE", e.tag);
    EXPECT_FALSE(Exists(Path("t")));
    const auto d = DecryptFile("files", Path(c.source), Path("t"));
    EXPECT_EQ(-1, d.code);
    EXPECT_FALSE(Exists(Path("t")));
  }
}

TEST_F(FileFaults, TargetWhoseDirectoryCannotBeMade) {
  WriteFile(Path("p"), "plain");
  WriteFile(Path("blocker"), "a file where a directory should be");
  const auto e = EncryptFile("files", Path("p"), Path("blocker/sub/t"));
  EXPECT_EQ(-1, e.code);
  EXPECT_EQ("IOE", e.tag);
  EXPECT_EQ("Target file can not be Accessed or written to.", e.message);
  EXPECT_EQ("plain", ReadFile(Path("p")));
}

// Tests run as root, which ignores permissions: the child gives them up.
TEST_F(FileFaults, TargetDirectoryWithoutWritePermission) {
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no unprivileged user to run as";
  fs::create_directories(Path("locked"));
  chmod(Path("locked").c_str(), 0555);
  chmod(dir_.path().c_str(), 0777);
  WriteFile(Path("p"), "plain");
  chmod(Path("p").c_str(), 0666);
  const std::string failure = RunInChild([&]() -> std::string {
    if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) return "";  // not root
    const auto e = EncryptFile("files", Path("p"), Path("locked/t"));
    CHILD_CHECK(e.code == -1);
    CHILD_CHECK(e.tag == "IOE");
    return "";
  });
  EXPECT_EQ("", failure);
  EXPECT_EQ("plain", ReadFile(Path("p")));
  EXPECT_FALSE(Exists(Path("locked/t")));
}

// The file-size limit stops the writes part way, as a full disk would.
TEST_F(FileFaults, WriteThatFailsPartWay) {
  const std::string plain = RandomText(3 * 1048576, 5);
  struct Case {
    const char* desc;
    bool encrypting;
    bool inPlace;
  } cases[] = {{"encrypt to a target", true, false},
               {"encrypt in place", true, true},
               {"decrypt to a target", false, false},
               {"decrypt in place", false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    const std::string src = Path("src");
    WriteFile(src, plain);
    if (!c.encrypting) {
      ASSERT_EQ(0, EncryptFile("files", src, src).code);
    }
    const std::string before = ReadFile(src);
    const std::string target = c.inPlace ? src : Path("t");
    const std::string failure = RunInChild([&]() -> std::string {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{1048576 + 4096, 1048576 + 4096};
      CHILD_CHECK(setrlimit(RLIMIT_FSIZE, &limit) == 0);
      const auto r = c.encrypting ? EncryptFile("files", src, target)
                                  : DecryptFile("files", src, target);
      CHILD_CHECK(r.code == -1);
      return "";
    });
    EXPECT_EQ("", failure);
    EXPECT_TRUE(ReadFile(src) == before);
    EXPECT_FALSE(Exists(Path("t")));
    EXPECT_FALSE(Exists(src + QOR_FILE_SWAP_SUFFIX));
    fs::remove(src);
  }
}

// A process killed at any moment of an in-place encryption leaves either the
// original or the complete encrypted file at the path, never neither and
// never a part.
TEST_F(FileFaults, KilledInPlaceRunNeverLosesTheFile) {
  const std::string plain = RandomText(4 * 1048576 + 77, 9);
  // One undisturbed run shows how long a run takes here, so the kills spread
  // over all of it.
  WriteFile(Path("probe"), plain);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(0, EncryptFile("files", Path("probe"), Path("probe")).code);
  const auto runMicros = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
  fs::remove(Path("probe"));

  std::mt19937 rng(20261210);
  std::uniform_int_distribution<long> delay(0, 2 * runMicros + 100);
  int originals = 0;
  int encrypted = 0;
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    const std::string path = Path("victim" + std::to_string(round));
    WriteFile(path, plain);
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const auto e = EncryptFile("files", path, path);
      _exit(e.code == 0 ? 0 : 1);
    }
    usleep(static_cast<useconds_t>(delay(rng)));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);

    ASSERT_TRUE(Exists(path));
    if (QORCrypto_IsEnc_API_File(path.c_str()) == 0) {
      ++encrypted;
      const std::string back = Path("back");
      const auto d = DecryptFile("files", path, back);
      ASSERT_EQ(0, d.code) << d.message;
      EXPECT_EQ(1, d.plaintextVerified);
      EXPECT_EQ(1, d.ciphertextVerified);
      ASSERT_TRUE(ReadFile(back) == plain);
      fs::remove(back);
    } else {
      ++originals;
      ASSERT_TRUE(ReadFile(path) == plain);
    }
    fs::remove(path);
    fs::remove(path + QOR_FILE_SWAP_SUFFIX);
  }
  std::printf("killed runs: %d left the original, %d the encrypted file\n", originals, encrypted);
}

}  // namespace
