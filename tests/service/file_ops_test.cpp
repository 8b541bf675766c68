// The file operations on real files in a temporary directory: opening the
// source and its header, the target rules, the duplicate check, rollback,
// renames and copies.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "qor/nc_sha.h"
#include "qor/qorfile.h"
#include "support/bytes.h"
#include "service/file_support.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using qor::test::ReadFile;
using qor::test::Today;
using qor::test::TempDir;
using qor::test::WriteFile;

// An encrypted-looking file: a real header of |version|, then |body|.
std::string EncryptedLike(uint16_t version, const std::string& body = std::string(16, 'b')) {
  unsigned char header[QOR_FILE_HEADER_MAX];
  int length = 0;
  const unsigned char digest[32] = {};
  unsigned char iv[16];
  for (int i = 0; i < 16; ++i) iv[i] = static_cast<unsigned char>(0xA0 + i);
  ErrorInfo error{};
  EXPECT_EQ(0, GenerateFileHeaderData(version != 0 ? 2 : 1, digest, digest, 0x11223344556677LL, 7,
                                      "1.2.3.4", 3, "key", version, &error, header, &length, 16,
                                      iv));
  return std::string(reinterpret_cast<char*>(header), static_cast<size_t>(length)) + body;
}

TEST(FileOps, InitWriteFileMakesEveryMissingDirectory) {
  TempDir dir;
  const std::string path = dir / "a/b/c/out.enc";
  FILE* f = nullptr;
  ErrorInfo error{};
  ASSERT_EQ(0, InitWriteFile(path.c_str(), &error, &f, QOR_TARGET_REFUSE, 0));
  ASSERT_NE(nullptr, f);
  std::fclose(f);
  EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
  EXPECT_TRUE(fs::exists(path));
}

TEST(FileOps, InitWriteFileAppliesTheTargetRule) {
  struct Case {
    const char* desc;
    int rule;
    int inPlace;
    int expected;
    const char* written;  // file that receives the new bytes, relative to the dir
    const char* message;
  } cases[] = {
      {"bypass leaves it", QOR_TARGET_BYPASS, 0, 1, nullptr, ""},
      {"overwrite truncates", QOR_TARGET_OVERWRITE, 0, 0, "out", ""},
      {"overwrite of a stale swap file skips", QOR_TARGET_OVERWRITE, 1, 1, nullptr, ""},
      {"rename writes the dated name", QOR_TARGET_RENAME, 0, 0, "dated", ""},
      {"refuse", QOR_TARGET_REFUSE, 0, -1, nullptr, "Failed to OverWrite target : "},
      {"unknown rule refuses", 9, 0, -1, nullptr, "Failed to OverWrite target : "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    TempDir dir;
    const std::string path = dir / "out";
    WriteFile(path, "old");
    FILE* f = nullptr;
    ErrorInfo error{};
    EXPECT_EQ(c.expected, InitWriteFile(path.c_str(), &error, &f, c.rule, c.inPlace));
    if (f != nullptr) {
      std::fputs("new", f);
      std::fclose(f);
    }
    EXPECT_EQ(0, std::strncmp(c.message, error.message, std::strlen(c.message))) << error.message;
    const std::string written = c.written == nullptr ? ""
                                : std::string(c.written) == "dated" ? path + Today()
                                                                     : path;
    if (written.empty()) {
      EXPECT_EQ("old", ReadFile(path));
      EXPECT_EQ(1u, std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()));
    } else {
      EXPECT_EQ("new", ReadFile(written));
    }
    if (written == path + Today()) {
      EXPECT_EQ("old", ReadFile(path));
    }
  }
}

TEST(FileOps, InitWriteFileFailsWhereNoDirectoryCanBeMade) {
  TempDir dir;
  WriteFile(dir / "file", "x");
  FILE* f = nullptr;
  ErrorInfo error{};
  EXPECT_EQ(-1, InitWriteFile((dir / "file/sub/out").c_str(), &error, &f, QOR_TARGET_REFUSE, 0));
  EXPECT_EQ(nullptr, f);
}

TEST(FileOps, InitReadFileTakesTimeVersionAndIvFromTheHeader) {
  TempDir dir;
  struct Case {
    const char* desc;
    uint16_t version;
    int type;
  } cases[] = {{"type 1", 0, 1}, {"type 2", 0x0102, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    const std::string path = dir / "enc";
    WriteFile(path, EncryptedLike(c.version));
    FILE* f = nullptr;
    unsigned char iv[16] = {};
    FileResult result{};
    ErrorInfo error{};
    EXPECT_EQ(c.type, InitReadFile(path.c_str(), &error, &f, iv, &result));
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(241, std::ftell(f));
    std::fclose(f);
    EXPECT_EQ(0x11223344556677LL, result.time);
    EXPECT_EQ(c.version, result.keyVersion);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(0xA0 + i, iv[i]);
  }
  FILE* f = nullptr;
  ErrorInfo error{};
  EXPECT_EQ(0, InitReadFile((dir / "enc").c_str(), &error, &f, nullptr, nullptr));
  EXPECT_EQ(0, std::ftell(f));
  std::fclose(f);
  EXPECT_EQ(-1, InitReadFile((dir / "none").c_str(), &error, &f, nullptr, nullptr));
  EXPECT_EQ("The read file not open : " + (dir / "none"), std::string(error.message));
}

TEST(FileOps, WriteDataFileFeedsTheDigest) {
  TempDir dir;
  const std::string path = dir / "w";
  FILE* f = std::fopen(path.c_str(), "wb");
  NC_NEWSHA2_CTX ctx;
  NC_NewSha2_Init(&ctx);
  ErrorInfo error{};
  const std::string a = "first piece ";
  const std::string b = "second piece";
  EXPECT_EQ(12, WriteDataFile(reinterpret_cast<const unsigned char*>(a.data()), 12, f, &error,
                              &ctx));
  EXPECT_EQ(12, WriteDataFile(reinterpret_cast<const unsigned char*>(b.data()), 12, f, &error,
                              &ctx));
  std::fclose(f);
  unsigned char ours[32];
  NC_NewSha2_Final(&ctx, ours);
  unsigned char reference[32];
  const std::string both = a + b;
  SHA256(reinterpret_cast<const unsigned char*>(both.data()), both.size(), reference);
  EXPECT_EQ(0, std::memcmp(ours, reference, 32));
  EXPECT_EQ(both, ReadFile(path));

  FILE* readOnly = std::fopen(path.c_str(), "rb");
  EXPECT_EQ(-1, WriteDataFile(reinterpret_cast<const unsigned char*>(a.data()), 12, readOnly,
                              &error, nullptr));
  EXPECT_STREQ("Target file write failure ", error.message);
  std::fclose(readOnly);
}

TEST(FileOps, SwapSuffixIsTheLastExtension) {
  struct Case {
    const char* path;
    int expected;
  } cases[] = {
      {"x.ulvexswp1", 1}, {"x.old.ulvexswpA", 1}, {"dir/x.ulvexswp", 1}, {"x.ulvexswp1.txt", 0},
      {"x.", 0},          {"noextension", 0},     {"x.ulvex", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, has_ulvexswp_suffix(c.path)) << c.path;
  EXPECT_EQ(0, has_ulvexswp_suffix(nullptr));
}

TEST(FileOps, DuplicateCheckByTypeAndSource) {
  struct Case {
    const char* desc;
    int type;
    bool encryptedSource;
    bool withTarget;
    int expected;
    bool copied;
    const char* message;
  } cases[] = {
      {"no check", 0, true, true, 1, false, ""},
      {"encrypt copy: plaintext goes on", 1, false, true, 1, false, ""},
      {"encrypt copy: encrypted copied", 1, true, true, 0, true, ""},
      {"encrypt copy: encrypted, no target", 1, true, false, 0, false, ""},
      {"encrypt refuse: plaintext goes on", 2, false, true, 1, false, ""},
      {"encrypt refuse: encrypted", 2, true, true, -1, false, "The source file is encrypted : "},
      {"decrypt copy: plaintext copied", 3, false, true, 1, true, ""},
      {"decrypt copy: encrypted goes on", 3, true, true, 0, false, ""},
      {"decrypt refuse: plaintext", 4, false, true, -1, false, "The source file is plaintext : "},
      {"decrypt refuse: encrypted goes on", 4, true, true, 0, false, ""},
      {"invalid type", 5, true, true, -1, false, "Invalid DPType was input"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    TempDir dir;
    const std::string source = dir / "src";
    const std::string target = dir / "dst";
    const std::string content = c.encryptedSource ? EncryptedLike(3) : "plain text";
    WriteFile(source, content);
    ErrorInfo error{};
    EXPECT_EQ(c.expected, VerifyDuplication(c.type, source.c_str(),
                                            c.withTarget ? target.c_str() : nullptr,
                                            QOR_TARGET_REFUSE, &error));
    EXPECT_EQ(c.copied, fs::exists(target));
    if (c.copied) {
      EXPECT_EQ(content, ReadFile(target));
    }
    EXPECT_EQ(0, std::strncmp(c.message, error.message, std::strlen(c.message))) << error.message;
  }
  TempDir dir;
  ErrorInfo error{};
  EXPECT_EQ(4, VerifyDuplication(3, (dir / "missing").c_str(), nullptr, 4, &error));
  EXPECT_EQ(1, VerifyDuplication(1, (dir / "missing").c_str(), nullptr, 4, &error));
}

TEST(FileOps, DuplicateCopyFailureIsReported) {
  TempDir dir;
  WriteFile(dir / "src", EncryptedLike(0));
  WriteFile(dir / "dst", "already here");
  ErrorInfo error{};
  EXPECT_EQ(-1, VerifyDuplication(1, (dir / "src").c_str(), (dir / "dst").c_str(),
                                  QOR_TARGET_REFUSE, &error));
  EXPECT_EQ("source file backup failed : " + (dir / "dst"), std::string(error.message));
  EXPECT_EQ("already here", ReadFile(dir / "dst"));
}

TEST(FileOps, RollbackByStep) {
  struct Case {
    int step;
    bool targetRemoved;
    bool backupRestored;
  } cases[] = {{0, false, false}, {1, true, true},  {2, true, true},  {3, true, true},
               {4, true, false},  {5, true, false}, {6, true, true},  {7, true, true},
               {8, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    TempDir dir;
    WriteFile(dir / "target", "t");
    WriteFile(dir / "backup", "b");
    ErrorInfo error{};
    EXPECT_EQ(0, RollbackForStep(c.step, (dir / "source").c_str(), (dir / "target").c_str(),
                                 (dir / "backup").c_str(), &error));
    EXPECT_EQ(!c.targetRemoved, fs::exists(dir / "target"));
    EXPECT_EQ(c.backupRestored, fs::exists(dir / "source"));
  }
}

TEST(FileOps, RollbackNeverRemovesTheSourceItself) {
  TempDir dir;
  WriteFile(dir / "source", "the only copy");
  ErrorInfo error{};
  EXPECT_EQ(0, RollbackForStep(4, (dir / "source").c_str(), (dir / "source").c_str(), nullptr,
                               &error));
  EXPECT_EQ("the only copy", ReadFile(dir / "source"));
}

TEST(FileOps, RenameFileRefusesMissingSourceAndExistingTarget) {
  TempDir dir;
  ErrorInfo error{};
  EXPECT_EQ(-1, RenameFile((dir / "a").c_str(), (dir / "b").c_str(), &error));
  EXPECT_EQ("Source file does not exist : " + (dir / "a"), std::string(error.message));
  WriteFile(dir / "a", "a");
  WriteFile(dir / "b", "b");
  EXPECT_EQ(-1, RenameFile((dir / "a").c_str(), (dir / "b").c_str(), &error));
  EXPECT_EQ("The target file exists : " + (dir / "b"), std::string(error.message));
  EXPECT_EQ(0, RenameFile((dir / "a").c_str(), (dir / "c").c_str(), &error));
  EXPECT_EQ("a", ReadFile(dir / "c"));
  EXPECT_FALSE(fs::exists(dir / "a"));
}

TEST(FileOps, StreamCopyAndWriters) {
  TempDir dir;
  std::string content(5000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  WriteFile(dir / "in", content);
  EXPECT_EQ(0, QORCrypto_filecopy(std::fopen((dir / "in").c_str(), "rb"),
                                  std::fopen((dir / "out").c_str(), "wb")));
  EXPECT_EQ(content, ReadFile(dir / "out"));

  FILE* f = std::fopen((dir / "crlf").c_str(), "wb");
  const unsigned char data[] = "line";
  const unsigned char crlf[] = "\r\n";
  EXPECT_EQ(6, WriteFileWithCrlf(data, 4, crlf, 2, f));
  EXPECT_EQ(0, WriteEncDataFile(data, 4, f, nullptr, nullptr, nullptr));
  std::fclose(f);
  EXPECT_EQ("line\r\n", ReadFile(dir / "crlf"));

  int64_t size = 0;
  int fd = -1;
  ErrorInfo error{};
  EXPECT_EQ(0, MappingFileInfo((dir / "in").c_str(), &size, &fd, &error));
  EXPECT_EQ(5000, size);
  EXPECT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(-1, MappingFileInfo((dir / "none").c_str(), &size, &fd, &error));
  EXPECT_EQ("[failed] open existing File failed : " + (dir / "none"),
            std::string(error.message));
}

}  // namespace
