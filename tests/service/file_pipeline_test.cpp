// Whole files through the pipelines: round trips of every size that matters,
// the body checked against OpenSSL from the header's fields, the target
// rules, source handling, duplicate and error options, access rules and the
// digests.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "service/file_support.h"
#include "support/evp_oracle.h"

namespace {

namespace fs = std::filesystem;
using qor::test::Bytes;
using qor::test::DecryptFile;
using qor::test::EncryptFile;
using qor::test::Exists;
using qor::test::FilePolicy;
using qor::test::FileService;
using qor::test::RandomText;
using qor::test::ReadFile;
using qor::test::Today;
using qor::test::WriteFile;

Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string Sha256(const std::string& s) {
  unsigned char d[32];
  SHA256(reinterpret_cast<const unsigned char*>(s.data()), s.size(), d);
  return std::string(reinterpret_cast<char*>(d), 32);
}

class FilePipeline : public FileService {};

TEST_F(FilePipeline, RoundTripsEverySizeThatMatters) {
  AddFile(FilePolicy("v0"), {0});
  AddFile(FilePolicy("v3"), {3});
  // Around the small-source piece sizes too: the bytes must not depend on them.
  const size_t sizes[] = {0,      1,      15,     16,      17,      4095,    65535,
                          65536,  65537,  983039, 983040,  1048575, 1048576, 1048577,
                          3 * 1048576 + 5};
  for (const char* policy : {"v0", "v3"}) {
    for (size_t size : sizes) {
      SCOPED_TRACE(std::string(policy) + " size " + std::to_string(size));
      const std::string plain = RandomText(size, static_cast<unsigned>(size));
      const std::string src = Path("plain.bin");
      const std::string enc = Path("out/enc.bin");
      const std::string back = Path("back.bin");
      WriteFile(src, plain);
      const auto e = EncryptFile(policy, src, enc);
      ASSERT_EQ(0, e.code) << e.message;
      EXPECT_EQ(policy, e.keyName);
      EXPECT_FALSE(Exists(src)) << "the source goes after a successful run";
      const std::string encrypted = ReadFile(enc);
      const size_t header = std::string(policy) == "v3" ? 241 : 239;
      EXPECT_EQ(header + (size / 16 + 1) * 16, encrypted.size());
      EXPECT_EQ(0, QORCrypto_IsEnc_API_File(enc.c_str()));

      const auto d = DecryptFile(policy, enc, back);
      ASSERT_EQ(0, d.code) << d.message;
      EXPECT_EQ(1, d.plaintextVerified);
      EXPECT_EQ(1, d.ciphertextVerified);
      EXPECT_EQ(e.time, d.time);
      EXPECT_EQ(std::string(policy) == "v3" ? 3 : 0, d.keyVersion);
      EXPECT_TRUE(ReadFile(back) == plain);
      EXPECT_FALSE(Exists(enc));
      fs::remove(back);
    }
  }
}

// The body is plain AES-128-CBC with PKCS#7 padding under the policy key and
// the header's record-IV block; the header's digests are SHA-256 of the
// plaintext and of the body.
TEST_F(FilePipeline, BodyDecryptsWithOpenSslFromTheHeader) {
  AddFile(FilePolicy("interop"), {5});
  const std::string plain = RandomText(100000, 7);
  WriteFile(Path("p"), plain);
  ASSERT_EQ(0, EncryptFile("interop", Path("p"), Path("e")).code);
  const std::string file = ReadFile(Path("e"));
  ASSERT_GT(file.size(), 241u);
  EXPECT_EQ(0xFE, static_cast<unsigned char>(file[0]));
  EXPECT_EQ(2, file[1]);
  EXPECT_EQ(0, file[153]);
  EXPECT_EQ(5, file[154]);
  const std::string body = file.substr(241);
  const Bytes iv = AsBytes(file.substr(219, 16));
  EXPECT_EQ(Bytes(12, 0), Bytes(iv.begin() + 4, iv.end())) << "only the record IV is drawn";
  const Bytes key(16, qor::test::KeyList::KeyByte(5));
  const Bytes decrypted =
      qor::test::EvpCrypt(EVP_aes_128_cbc(), false, true, key, iv.data(), AsBytes(body));
  EXPECT_TRUE(decrypted == AsBytes(plain));
  EXPECT_EQ(Sha256(body), file.substr(155, 32));
  EXPECT_EQ(Sha256(plain), file.substr(187, 32));
  EXPECT_EQ("UXFENC", file.substr(235, 6));
  EXPECT_EQ("interop", std::string(file.c_str() + 25));
}

TEST_F(FilePipeline, EachFileDrawsItsOwnRecordIv) {
  AddFile(FilePolicy("iv"));
  WriteFile(Path("a"), "same");
  WriteFile(Path("b"), "same");
  ASSERT_EQ(0, EncryptFile("iv", Path("a"), Path("a.enc")).code);
  ASSERT_EQ(0, EncryptFile("iv", Path("b"), Path("b.enc")).code);
  EXPECT_NE(ReadFile(Path("a.enc")).substr(217, 4), ReadFile(Path("b.enc")).substr(217, 4));
  EXPECT_NE(ReadFile(Path("a.enc")).substr(239), ReadFile(Path("b.enc")).substr(239));
}

TEST_F(FilePipeline, DigestsOffLeaveZeroFields) {
  auto args = FilePolicy("nodigest");
  args.encDataVerify = 0;
  args.orgDataVerify = 0;
  AddFile(args);
  WriteFile(Path("p"), "content");
  ASSERT_EQ(0, EncryptFile("nodigest", Path("p"), Path("e")).code);
  EXPECT_EQ(std::string(64, '\0'), ReadFile(Path("e")).substr(153, 64));
  const auto d = DecryptFile("nodigest", Path("e"), Path("d"));
  EXPECT_EQ(0, d.code);
  EXPECT_EQ(0, d.plaintextVerified);
  EXPECT_EQ(0, d.ciphertextVerified);
  EXPECT_EQ("content", ReadFile(Path("d")));
}

// Target rules for a target that exists already, not in place.
TEST_F(FilePipeline, ExistingTargetByRule) {
  struct Case {
    const char* desc;
    int rule;
    int code;
    const char* tag;
    bool targetReplaced;
    bool datedWritten;
    bool sourceKept;
  } cases[] = {
      {"bypass", QOR_TARGET_BYPASS, 0, "", false, false, true},
      {"overwrite", QOR_TARGET_OVERWRITE, 0, "", true, false, false},
      {"rename", QOR_TARGET_RENAME, 0, "", false, true, false},
      {"refuse", QOR_TARGET_REFUSE, -1, "IOE", false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    const std::string name = std::string("rule.") + c.desc;
    auto args = FilePolicy(name);
    args.targetExist = c.rule;
    AddFile(args);
    const std::string src = Path(name + ".src");
    const std::string dst = Path(name + ".dst");
    WriteFile(src, "plaintext");
    WriteFile(dst, "previous target");
    const auto e = EncryptFile(name, src, dst);
    EXPECT_EQ(c.code, e.code) << e.message;
    EXPECT_EQ(c.tag, e.tag);
    EXPECT_EQ(c.sourceKept, Exists(src));
    if (c.sourceKept) {
      EXPECT_EQ("plaintext", ReadFile(src));
    }
    EXPECT_EQ(c.targetReplaced, QORCrypto_IsEnc_API_File(dst.c_str()) == 0);
    if (!c.targetReplaced) {
      EXPECT_EQ("previous target", ReadFile(dst));
    }
    EXPECT_EQ(c.datedWritten, QORCrypto_IsEnc_API_File((dst + Today()).c_str()) == 0);
  }
}

// Two runs of one day into the same existing target under "RENAME": the
// second never empties the first one's output, whose source is gone.
TEST_F(FilePipeline, RenameRuleNeverReusesADatedOutput) {
  auto args = FilePolicy("dated");
  args.targetExist = QOR_TARGET_RENAME;
  AddFile(args);
  WriteFile(Path("target"), "existing");
  const std::string first = RandomText(3000, 1);
  const std::string second = RandomText(3000, 2);
  WriteFile(Path("a"), first);
  WriteFile(Path("b"), second);
  ASSERT_EQ(0, EncryptFile("dated", Path("a"), Path("target")).code);
  ASSERT_EQ(0, EncryptFile("dated", Path("b"), Path("target")).code);
  const std::string dated = Path("target") + Today();
  ASSERT_EQ(0, DecryptFile("dated", dated, Path("a.back")).code);
  ASSERT_EQ(0, DecryptFile("dated", dated + ".1", Path("b.back")).code);
  EXPECT_TRUE(ReadFile(Path("a.back")) == first);
  EXPECT_TRUE(ReadFile(Path("b.back")) == second);
  EXPECT_EQ("existing", ReadFile(Path("target")));
}

// In place: only "OVERWRITE" replaces the source, in one rename; "RENAME"
// writes the dated name beside it; the other rules leave it alone. No swap
// file is ever left behind.
TEST_F(FilePipeline, InPlaceByRule) {
  struct Case {
    const char* desc;
    int rule;
    int code;
    bool replaced;
    bool dated;
  } cases[] = {
      {"overwrite", QOR_TARGET_OVERWRITE, 0, true, false},
      {"bypass", QOR_TARGET_BYPASS, 0, false, false},
      {"rename", QOR_TARGET_RENAME, 0, false, true},
      {"refuse", QOR_TARGET_REFUSE, -1, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    const std::string name = std::string("inplace.") + c.desc;
    auto args = FilePolicy(name);
    args.targetExist = c.rule;
    AddFile(args);
    const std::string path = Path(name + ".file");
    const std::string plain = RandomText(2 * 1048576 + 3, 11);
    WriteFile(path, plain);
    chmod(path.c_str(), 0640);
    const auto e = EncryptFile(name, path, path);
    EXPECT_EQ(c.code, e.code) << e.message;
    EXPECT_FALSE(Exists(path + QOR_FILE_SWAP_SUFFIX));
    if (c.replaced) {
      ASSERT_EQ(0, QORCrypto_IsEnc_API_File(path.c_str()));
      struct stat st;
      ASSERT_EQ(0, stat(path.c_str(), &st));
      EXPECT_EQ(0640u, st.st_mode & 0777) << "the output takes the source's permissions";
      const auto d = DecryptFile(name, path, path);
      EXPECT_EQ(0, d.code) << d.message;
      EXPECT_FALSE(Exists(path + QOR_FILE_SWAP_SUFFIX));
      EXPECT_TRUE(ReadFile(path) == plain);
    } else if (c.dated) {
      EXPECT_EQ(0, QORCrypto_IsEnc_API_File((path + Today()).c_str()));
    } else {
      EXPECT_TRUE(ReadFile(path) == plain);
    }
  }
}

// Another name of the source is the source: opening it as a new target
// would empty the only copy. Such runs go in place.
TEST_F(FilePipeline, SameFileUnderAnotherNameRunsInPlace) {
  AddFile(FilePolicy("alias"));
  const std::string plain = RandomText(70000, 3);
  fs::create_directories(Path("d"));
  struct Case {
    const char* desc;
    std::string target;
    bool hardLink;
  } cases[] = {{"a path through ..", Path("d/../d/f"), false},
               {"a hard link", Path("d/link"), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    WriteFile(Path("d/f"), plain);
    if (c.hardLink) {
      ASSERT_EQ(0, link(Path("d/f").c_str(), c.target.c_str()));
    }
    const auto e = EncryptFile("alias", Path("d/f"), c.target);
    ASSERT_EQ(0, e.code) << e.message;
    ASSERT_EQ(0, QORCrypto_IsEnc_API_File(c.target.c_str()));
    EXPECT_EQ(c.hardLink, !Exists(Path("d/f"))) << "the other name goes, as after any run";
    ASSERT_EQ(0, DecryptFile("alias", c.target, Path("back")).code);
    EXPECT_TRUE(ReadFile(Path("back")) == plain);
    fs::remove(Path("back"));
  }
}

TEST_F(FilePipeline, SourceHandlingByPolicy) {
  struct Case {
    const char* desc;
    int handling;
    bool inPlace;
  } cases[] = {
      {"none", 0, false},   {"delete", 1, false},        {"backup", 2, false},
      {"delete in place", 1, true}, {"backup in place", 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    const std::string name = std::string("handling.") + c.desc;
    auto args = FilePolicy(name);
    args.orgFileHandling = c.handling;
    args.orgBackupExtension = ".orig";
    AddFile(args);
    const std::string src = Path(name);
    const std::string dst = c.inPlace ? src : src + ".enc";
    WriteFile(src, "original bytes");
    ASSERT_EQ(0, EncryptFile(name, src, dst).code);
    EXPECT_EQ(c.handling == 2, Exists(src + ".orig"));
    if (c.handling == 2) {
      EXPECT_EQ("original bytes", ReadFile(src + ".orig"));
    }
    EXPECT_EQ(c.inPlace, Exists(src));
    EXPECT_EQ(0, QORCrypto_IsEnc_API_File(dst.c_str()));
  }
}

TEST_F(FilePipeline, DuplicateOptions) {
  struct Case {
    const char* desc;
    int option;
    bool encrypting;
    bool encryptedSource;
    int code;
    const char* tag;
    bool copied;
  } cases[] = {
      {"encrypt, refuse, encrypted", 2, true, true, -1, "DUP", false},
      {"encrypt, copy, encrypted", 1, true, true, 0, "DUP", true},
      {"decrypt, refuse, plaintext", 2, false, false, -1, "DUP", false},
      {"decrypt, copy, plaintext", 1, false, false, 0, "DUP", true},
      {"decrypt, option 3 is invalid", 3, false, true, -1, "DUP", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    const std::string name = std::string("dup.") + c.desc;
    auto plainArgs = FilePolicy(name + ".maker");
    AddFile(plainArgs);
    auto args = FilePolicy(name);
    args.encDuplication = c.option;
    AddFile(args);
    const std::string src = Path(name + ".src");
    const std::string dst = Path(name + ".dst");
    WriteFile(src, "some text");
    if (c.encryptedSource) {
      ASSERT_EQ(0, EncryptFile(name + ".maker", src, src).code);
    }
    const std::string before = ReadFile(src);
    const auto r = c.encrypting ? EncryptFile(name, src, dst) : DecryptFile(name, src, dst);
    EXPECT_EQ(c.code, r.code) << r.message;
    EXPECT_EQ(c.tag, r.tag);
    EXPECT_EQ(before, ReadFile(src));
    EXPECT_EQ(c.copied, Exists(dst));
    if (c.copied) {
      EXPECT_EQ(before, ReadFile(dst));
    }
  }
}

TEST_F(FilePipeline, DuplicateCopyOntoTheSourceUnderAnotherNameKeepsIt) {
  // The copy option copies the source to the target before any output is
  // opened; a target that is the source by another spelling must not be
  // emptied by that copy.
  AddFile(FilePolicy("dupself.maker"));
  auto args = FilePolicy("dupself");
  args.encDuplication = 1;
  AddFile(args);
  fs::create_directories(Path("d"));
  for (const bool encrypting : {true, false}) {
    SCOPED_TRACE(encrypting ? "encrypt, encrypted source" : "decrypt, plaintext source");
    const std::string src = Path("d/f");
    WriteFile(src, RandomText(5000, 9));
    if (encrypting) {
      ASSERT_EQ(0, EncryptFile("dupself.maker", src, src).code);
    }
    const std::string before = ReadFile(src);
    const std::string respelled = Path("d/../d/f");
    const auto r = encrypting ? EncryptFile("dupself", src, respelled)
                              : DecryptFile("dupself", src, respelled);
    EXPECT_EQ(0, r.code) << r.message;
    EXPECT_EQ("DUP", r.tag);
    EXPECT_TRUE(ReadFile(src) == before);
  }
}

TEST_F(FilePipeline, ErrorOptionThreeHandsTheSourceBackOnFailure) {
  auto args = FilePolicy("digest.policy");
  args.algorithm = "SHA256";
  args.keyLength = 16;
  args.errorProcess = 3;
  AddFile(args);
  WriteFile(Path("p"), "keep me");
  const auto e = EncryptFile("digest.policy", Path("p"), Path("t"));
  EXPECT_EQ(-1, e.code);
  EXPECT_EQ("keep me", ReadFile(Path("t")));
  EXPECT_EQ("keep me", ReadFile(Path("p")));
}

// The policy's key status (set by the agent's policy, never by this
// library's creators) refuses before any file is opened; a revoked head key
// refuses when the cipher starts. Neither leaves an output.
TEST_F(FilePipeline, UnusableKeyRefusesWithLifeCycleTag) {
  KeyInfo* deactivated = AddFile(FilePolicy("policy.deactivated"), {2});
  deactivated->cipher->data->keyStatus = 1;
  AddFile(FilePolicy("key.revoked"), {2}, "revoked");
  struct Case {
    const char* policy;
    bool audited;
  } cases[] = {{"policy.deactivated", true}, {"key.revoked", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.policy);
    NewAuditTexts();
    WriteFile(Path("p"), "x");
    const auto e = EncryptFile(c.policy, Path("p"), Path("t"));
    EXPECT_EQ(2100, e.code);
    EXPECT_EQ("KLE", e.tag);
    EXPECT_FALSE(Exists(Path("t")));
    EXPECT_EQ("x", ReadFile(Path("p")));
    const auto audit = NewAuditTexts();
    EXPECT_EQ(c.audited, !audit.empty() &&
                             audit.back().find(std::string(c.policy) + ",E,F,KLE") !=
                                 std::string::npos);
  }
}

TEST_F(FilePipeline, SwapFileSourceIsNotProcessed) {
  AddFile(FilePolicy("swap"));
  const std::string swap = Path(std::string("x") + QOR_FILE_SWAP_SUFFIX);
  WriteFile(swap, "half written");
  const auto e = EncryptFile("swap", swap, Path("t"));
  EXPECT_EQ(0, e.code);
  EXPECT_FALSE(Exists(Path("t")));
  EXPECT_EQ("half written", ReadFile(swap));
}

TEST_F(FilePipeline, UnknownPolicyFailsWithKeyTag) {
  WriteFile(Path("p"), "x");
  const auto e = EncryptFile("nobody", Path("p"), Path("t"));
  EXPECT_EQ(-1, e.code);
  EXPECT_EQ("KED", e.tag);
  EXPECT_NE(std::string::npos, e.message.find("could not be found"));
  EXPECT_EQ("x", ReadFile(Path("p")));
}

class FileAccess : public FileService {
 protected:
  // A policy whose rules let identity "app" encrypt but not decrypt.
  void AddGuarded(const std::string& name, int unauthorized) {
    if (acl_.get() == nullptr) {
      auto& entry = acl_.Add();
      entry.encryptAllowed = 1;
      entry.decryptAllowed = 0;
      entry.rules1 = qor::test::Rules({"app"});
    }
    auto args = FilePolicy(name);
    args.prio = QOR_PRIO_ALLOW_FIRST;
    args.aclCount = 1;
    args.acl = acl_.get();
    args.unauthorizedDecryption = unauthorized;
    AddFile(args);
  }
  qor::test::AclList acl_;
};

TEST_F(FileAccess, RefusedEncryptionIsAuditedAndWritesNothing) {
  AddGuarded("guarded", 2);
  WriteFile(Path("p"), "secret");
  const auto e = EncryptFile("guarded", Path("p"), Path("t"), "intruder");
  EXPECT_EQ(-1, e.code);
  EXPECT_EQ("ACC", e.tag);
  EXPECT_EQ("Permission Denied Encrypt", e.message);
  EXPECT_FALSE(Exists(Path("t")));
  EXPECT_EQ("secret", ReadFile(Path("p")));
}

// Decryption checks the decrypt permission: an identity allowed to encrypt
// but not to decrypt gets what the policy gives a refused caller.
TEST_F(FileAccess, RefusedDecryptionBySetting) {
  struct Case {
    int setting;
    int code;
    const char* written;  // nullptr: no output
  } cases[] = {{1, 0, nullptr}, {2, -1, nullptr}, {3, 0, "<encrypted>"}, {4, 0, "******"},
               {5, 0, "No Permission"}, {0, -1, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting);
    const std::string name = "guarded." + std::to_string(c.setting);
    AddGuarded(name, c.setting);
    const std::string src = Path(name + ".src");
    const std::string enc = Path(name + ".enc");
    const std::string dst = Path(name + ".dst");
    WriteFile(src, "secret");
    ASSERT_EQ(0, EncryptFile(name, src, enc).code);
    const std::string encrypted = ReadFile(enc);
    const auto d = DecryptFile(name, enc, dst);
    EXPECT_EQ(c.code, d.code) << d.message;
    EXPECT_EQ("ACC", d.tag);
    EXPECT_EQ(encrypted, ReadFile(enc)) << "the encrypted file stays";
    if (c.written == nullptr) {
      EXPECT_FALSE(Exists(dst));
    } else if (std::string(c.written) == "<encrypted>") {
      EXPECT_EQ(encrypted, ReadFile(dst));
    } else {
      EXPECT_EQ(c.written, ReadFile(dst));
    }
  }
}

}  // namespace
