// Encrypted files: the header functions on any bytes, and any bytes handed to
// the file decryption as an encrypted file in a scratch directory. A run may
// fail, but it never loses its source: after a failure (or a decryption whose
// digests did not match) the source is still there byte for byte, and no
// swap file is left behind. What the file encryption writes decrypts back.
//   byte 0 % 5: 0 header functions only; 1 decrypt to a new target and 2 in
//               place under a file policy (byte 0 / 5 picks it, and the
//               spelling of the in-place target); 3 the file
//               entry point under a policy of the installed key set; 4 the
//               rest is plaintext, encrypted and decrypted again
// The header functions also run on the input of modes 1 to 3.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "file_key_set.h"
#include "installed_key_set.h"
#include "qor/file_entry.h"
#include "qor/qorcrypto.h"
#include "qor/qorfile.h"

namespace {

using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

struct Scratch {
  std::string dir;
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "qor-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) abort();
    dir = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  std::string Path(const char* name) const { return dir + "/" + name; }
  // Empties the directory for the next input.
  void Clear() const {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(dir, ignored)) fs::remove_all(entry, ignored);
  }
};

Scratch& Files() {
  static Scratch scratch;
  return scratch;
}

void Put(const std::string& path, const unsigned char* bytes, size_t length) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  if (length > 0 && std::fwrite(bytes, 1, length, f) != length) abort();
  if (std::fclose(f) != 0) abort();
}

bool Get(const std::string& path, Bytes* out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  out->clear();
  unsigned char block[4096];
  for (size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) out->insert(out->end(), block, block + n);
  std::fclose(f);
  return true;
}

bool Holds(const std::string& path, const unsigned char* bytes, size_t length) {
  Bytes now;
  return Get(path, &now) && now.size() == length && (length == 0 || std::memcmp(now.data(), bytes, length) == 0);
}

void NoSwapFileLeft() {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(Files().dir, ignored)) {
    if (entry.path().filename().string().find("ulvexswp") != std::string::npos) abort();
  }
}

// An encrypted file is at least a whole type-2 header long (the type-1 header
// then has the 2 bytes after it), starts with the marker, and has the magic
// where its type byte puts it.
bool LooksEncrypted(const unsigned char* data, size_t size) {
  if (size < QOR_FILE_HEADER_MAX || data[0] != QOR_FILE_MARKER) return false;
  const size_t magic = data[1] == QOR_FILE_HEADER_TYPE2 ? 235 : 233;
  return std::memcmp(data + magic, "UXFENC", 6) == 0;
}

void CheckLines(const unsigned char* data, size_t size) {
  const char* p = reinterpret_cast<const char*>(data);
  const char* end = p + size;
  for (;;) {
    FileLineInfo line{};
    line.bufferLength = static_cast<int32_t>(end - p);
    const int status = FindFileLine(p, &line);
    if (line.start != p || line.end < p || line.end > end || line.length != line.end - line.start ||
        line.terminatorCount < 0 || line.terminatorCount > 2 ||
        line.end + line.terminatorCount > end) {
      abort();
    }
    if (status == QOR_LINE_INCOMPLETE) {
      if (line.end != end) abort();
      return;
    }
    if ((status == QOR_LINE_EMPTY) != (line.length == 0) || line.terminatorCount == 0) abort();
    for (int i = 0; i < line.terminatorCount; ++i) {
      if (line.terminator[i] != '\r' && line.terminator[i] != '\n') abort();
    }
    p = line.end + line.terminatorCount;
  }
}

void CheckHeader(const std::string& path, const unsigned char* data, size_t size) {
  if (QORCrypto_IsEnc_API_File(path.c_str()) != (LooksEncrypted(data, size) ? 0 : 1)) abort();
  const bool whole = size >= QOR_FILE_HEADER_MAX;
  // The stored digests where the type byte puts them: a header verified
  // against its own digests passes, against others it fails.
  const size_t base = whole && data[1] == QOR_FILE_HEADER_TYPE2 ? 155 : 153;
  unsigned char cipher[QOR_FILE_DIGEST_SIZE] = {};
  unsigned char plain[QOR_FILE_DIGEST_SIZE] = {};
  if (whole) {
    std::memcpy(cipher, data + base, sizeof cipher);
    std::memcpy(plain, data + base + QOR_FILE_DIGEST_SIZE, sizeof plain);
  }
  for (int verify = 0; verify < 3; ++verify) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) abort();
    FileResult result{};
    ErrorInfo error{};
    if (verify == 2) plain[size % sizeof plain] ^= 1;
    const int rc = VerifyFileHeader(f, plain, cipher, verify != 0, &result, &error);
    std::fclose(f);
    const int expected = !whole || verify == 2 ? -1 : 0;
    if (rc != expected) abort();
    if (verify == 2 && whole && (result.plaintextVerified != 0 || result.ciphertextVerified != 1)) {
      abort();
    }
  }
  std::FILE* f = nullptr;
  unsigned char iv[QOR_FILE_IV_BLOCK_SIZE];
  FileResult result{};
  ErrorInfo error{};
  const int type = InitReadFile(path.c_str(), &error, &f, iv, &result);
  if (f != nullptr) std::fclose(f);
  if (type >= 0 && whole) {
    if (type != data[1] || std::memcmp(iv, data + base + 2 * QOR_FILE_DIGEST_SIZE, sizeof iv) != 0) {
      abort();
    }
  }
  CheckLines(data, size);
}

FileResult DecryptDirect(const char* policy, const std::string& source, const std::string& target) {
  ErrorInfo error{};
  return QORCrypto_DecryptFile(static_cast<int>(std::strlen(policy)), policy, source.c_str(),
                               target.c_str(), &error, qor::fuzz::FindFilePolicy,
                               qor::fuzz::NoKeySetUpdate, qor::fuzz::NoKeyFetch, nullptr, nullptr,
                               nullptr);
}

// The source is lost only to a successful run that checked its digests (or
// was not asked to): then the output is where the run put it.
void CheckKept(int code, bool digestsFailed, const std::string& source, const std::string& output,
               const unsigned char* data, size_t size) {
  NoSwapFileLeft();
  if (Holds(source, data, size)) return;
  if (code != 0 || digestsFailed) abort();
  struct stat st;
  if (stat(output.c_str(), &st) != 0) abort();
}

void DecryptUnderFilePolicy(unsigned selector, bool inPlace, const unsigned char* data, size_t size) {
  const Scratch& files = Files();
  const std::string source = files.Path("in.enc");
  const auto& names = qor::fuzz::FilePolicies();
  // In place, the target names the source as given or by another spelling.
  const bool respelled = ((selector / names.size()) & 1) != 0;
  const std::string target =
      !inPlace ? files.Path("out/plain.bin") : respelled ? files.Path("./in.enc") : source;
  Put(source, data, size);
  CheckHeader(source, data, size);
  const char* policy = names[selector % names.size()];
  const FileResult r = DecryptDirect(policy, source, target);
  // The policies that check digests on decryption.
  const bool verifies = selector % names.size() <= 1 || selector % names.size() == 3;
  const bool digestsFailed =
      verifies && r.code == 0 && (r.plaintextVerified != 1 || r.ciphertextVerified != 1);
  CheckKept(r.code, digestsFailed, source, target, data, size);
}

void DecryptThroughEntryPoint(unsigned selector, const unsigned char* data, size_t size) {
  static const char* const kPolicies[] = {"aria128.two.versions", "seed.version0",
                                          "aes256.record.standard", "lea128.dup.input"};
  qor::fuzz::InstallKeySet();
  const Scratch& files = Files();
  const std::string source = files.Path("in.enc");
  const bool inPlace = (selector & 1) != 0;
  const std::string target = inPlace ? source : files.Path("plain.bin");
  Put(source, data, size);
  CheckHeader(source, data, size);
  const int code = QOR_DecryptFile(kPolicies[(selector >> 1) % 4], source.c_str(), target.c_str(), 0);
  CheckKept(code, false, source, target, data, size);
}

void RoundTrip(unsigned selector, const unsigned char* data, size_t size) {
  // The policies without a duplicate check: any plaintext goes through.
  static const char* const kPolicies[] = {"file.aes128.verify", "file.seed.v0", "file.lea.errcopy"};
  const char* policy = kPolicies[(selector >> 1) % 3];
  const Scratch& files = Files();
  const bool inPlace = (selector & 1) != 0;
  const std::string source = files.Path("plain.bin");
  const std::string encrypted = inPlace ? source : files.Path("sealed.enc");
  const std::string back = inPlace ? source : files.Path("back.bin");
  Put(source, data, size);
  ErrorInfo error{};
  FileResult* sealed = QORCrypto_EncryptFile(static_cast<int>(std::strlen(policy)), policy,
                                             source.c_str(), encrypted.c_str(), &error,
                                             qor::fuzz::FindFilePolicy, qor::fuzz::NoKeySetUpdate,
                                             nullptr, nullptr, nullptr);
  if (sealed == nullptr) abort();
  const int code = sealed->code;
  std::free(sealed);
  NoSwapFileLeft();
  if (code != 0) {
    // A plaintext that looks like an encrypted file may be refused; it stays.
    if (!Holds(source, data, size)) abort();
    return;
  }
  Bytes cipherFile;
  if (!Get(encrypted, &cipherFile) || QORCrypto_IsEnc_API_File(encrypted.c_str()) != 0) abort();
  CheckHeader(encrypted, cipherFile.data(), cipherFile.size());
  const FileResult r = DecryptDirect(policy, encrypted, back);
  NoSwapFileLeft();
  if (r.code != 0 || !Holds(back, data, size)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  // The installed key set also sets the configuration the file runs read.
  qor::fuzz::InstallKeySet();
  const unsigned selector = data[0];
  const unsigned char* rest = data + 1;
  const size_t restLength = size - 1;
  switch (selector % 5) {
    case 0: {
      const std::string path = Files().Path("header.bin");
      Put(path, rest, restLength);
      CheckHeader(path, rest, restLength);
      break;
    }
    case 1:
    case 2:
      DecryptUnderFilePolicy(selector / 5, selector % 5 == 2, rest, restLength);
      break;
    case 3:
      DecryptThroughEntryPoint(selector / 5, rest, restLength);
      break;
    default:
      RoundTrip(selector / 5, rest, restLength);
      break;
  }
  Files().Clear();
  return 0;
}
