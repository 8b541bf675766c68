// Whole-file encryption and decryption of a large file (1 GiB unless
// QOR_BENCH_FILE_MIB says otherwise) under an AES-128 policy with both
// digests on, beside `openssl enc -aes-128-cbc` on the same file in the same
// run, page cache warm, in a temporary directory (TMPDIR, or the first
// argument). Prints each side's throughput, the ratio, and how much resident
// memory our runs added at their peak.
//
// Our runs end with the output flushed to the disk (fsync), which openssl enc
// does not do; the ratio is also given against openssl followed by a sync of
// its output, the same durability.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "qor/key_mgr.h"
#include "qor/qorcrypto.h"
#include "qor/qorfile.h"
#include "qor/ua_cipher_util.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kPolicy[] = "bench.file.aes128";
constexpr int kRounds = 3;

KeyMgr* g_keys = nullptr;

int Find(DataBuffer* name, KeyInfo** out) {
  *out = g_keys->GetKeyInfo(g_keys, name);
  return *out != nullptr ? 0 : 1;
}
int NoUpdate(const char*, uint16_t) { return -1; }
int NoFetch(int, const char*, int) { return 1; }

bool AddPolicy() {
  g_keys = KeyMgr_Create(nullptr);
  if (g_keys == nullptr) return false;
  static unsigned char key[16];
  std::memset(key, 0x45, sizeof(key));
  static char status[] = "active";
  KeyEntry entry{5, key, status, 0, 0, nullptr};
  const DataBuffer name{static_cast<int32_t>(std::strlen(kPolicy)),
                        reinterpret_cast<unsigned char*>(const_cast<char*>(kPolicy))};
  // AES-128, version 5, overwrite an existing target, leave the source to the
  // final unlink, both digests on.
  return g_keys->AddKeyInfo(g_keys, &name, "AES", 4, QOR_IV_POLICY, 1, 16, 1, &entry, 1, 0,
                            nullptr, 0, nullptr, 0, 0, 0, 1, 0, 0, nullptr, 0, 0, 0, 0, 0, 0,
                            0, 0, QOR_TARGET_OVERWRITE, 0, "", 0, 1, 1, QOR_MODE_CBC) != nullptr;
}

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long ProcStatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(in, line)) {
    if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n + 1);
  }
  return -1;
}

// Restarts the peak-RSS count at the current RSS.
void ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

bool WriteSource(const std::string& path, size_t mib) {
  std::vector<unsigned char> block(1 << 20);
  std::mt19937 rng(2026);
  for (auto& b : block) b = static_cast<unsigned char>(rng());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  for (size_t i = 0; i < mib; ++i) {
    block[0] = static_cast<unsigned char>(i);  // no two pieces alike
    if (std::fwrite(block.data(), 1, block.size(), f) != block.size()) {
      std::fclose(f);
      return false;
    }
  }
  return std::fclose(f) == 0;
}

void ReadThrough(const std::string& path) {
  std::vector<char> block(1 << 20);
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return;
  while (std::fread(block.data(), 1, block.size(), f) > 0) {
  }
  std::fclose(f);
}

double RunShell(const std::string& command) {
  const Clock::time_point start = Clock::now();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "bench_file: failed: %s\n", command.c_str());
    std::exit(1);
  }
  return Seconds(start);
}

struct Ours {
  double seconds;
  long peakKiB;  // above the resident size before the run
};

Ours RunOurs(bool encrypt, const std::string& source, const std::string& target) {
  // The run unlinks its source: it reads a second name of the same file.
  const std::string alias = source + ".run";
  unlink(alias.c_str());
  if (link(source.c_str(), alias.c_str()) != 0) {
    std::perror("bench_file: link");
    std::exit(1);
  }
  ResetPeak();
  const long before = ProcStatusKiB("VmRSS:");
  ErrorInfo error{};
  const Clock::time_point start = Clock::now();
  int code = -1;
  if (encrypt) {
    FileResult* r = QORCrypto_EncryptFile(static_cast<int>(std::strlen(kPolicy)), kPolicy,
                                          alias.c_str(), target.c_str(), &error, Find, NoUpdate,
                                          nullptr, nullptr, nullptr);
    code = r != nullptr ? r->code : -1;
    std::free(r);
  } else {
    const FileResult r = QORCrypto_DecryptFile(static_cast<int>(std::strlen(kPolicy)), kPolicy,
                                               alias.c_str(), target.c_str(), &error, Find,
                                               NoUpdate, NoFetch, nullptr, nullptr, nullptr);
    code = r.code;
    if (code == 0 && (r.plaintextVerified != 1 || r.ciphertextVerified != 1)) code = -2;
  }
  const double seconds = Seconds(start);
  if (code != 0) {
    std::fprintf(stderr, "bench_file: our %s failed (%d): %s\n", encrypt ? "encryption" : "decryption",
                 code, error.message);
    std::exit(1);
  }
  return {seconds, ProcStatusKiB("VmHWM:") - before};
}

}  // namespace

int main(int argc, char** argv) {
  const char* mibText = std::getenv("QOR_BENCH_FILE_MIB");
  const size_t mib = mibText != nullptr ? std::strtoul(mibText, nullptr, 10) : 1024;
  std::string base = argc > 1 ? argv[1] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
  std::string pattern = base + "/qor-bench-file-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr || !AddPolicy()) {
    std::fprintf(stderr, "bench_file: no temporary directory or key set\n");
    return 1;
  }
  const std::string dir = pattern;
  const std::string source = dir + "/source.bin";
  const std::string ours = dir + "/ours.enc";
  const std::string back = dir + "/ours.dec";
  const std::string theirs = dir + "/openssl.enc";
  const std::string theirsBack = dir + "/openssl.dec";
  if (!WriteSource(source, mib)) {
    std::fprintf(stderr, "bench_file: cannot write %zu MiB in %s\n", mib, dir.c_str());
    return 1;
  }
  ReadThrough(source);

  const std::string key(32, '5');  // the bytes 0x55: openssl needs some key
  const std::string iv(32, '0');
  const std::string openssl = "openssl enc -aes-128-cbc -K " + key + " -iv " + iv;
  double best[6] = {1e9, 1e9, 1e9, 1e9, 1e9, 1e9};
  long peak = 0;
  for (int round = 0; round < kRounds; ++round) {
    const Ours e = RunOurs(true, source, ours);
    best[0] = std::min(best[0], e.seconds);
    ReadThrough(ours);
    const Ours d = RunOurs(false, ours, back);
    best[1] = std::min(best[1], d.seconds);
    peak = std::max({peak, e.peakKiB, d.peakKiB});
    best[2] = std::min(best[2], RunShell(openssl + " -in " + source + " -out " + theirs));
    best[3] = std::min(best[3], RunShell(openssl + " -d -in " + theirs + " -out " + theirsBack));
    best[4] = std::min(best[4], RunShell(openssl + " -in " + source + " -out " + theirs +
                                         " && sync " + theirs));
    best[5] = std::min(best[5], RunShell(openssl + " -d -in " + theirs + " -out " + theirsBack +
                                         " && sync " + theirsBack));
  }
  if (std::system(("cmp -s " + source + " " + back).c_str()) != 0) {
    std::fprintf(stderr, "bench_file: decrypted file differs from the source\n");
    return 1;
  }

  const double size = static_cast<double>(mib);
  std::printf("file of %zu MiB, AES-128-CBC, both SHA-256 digests on, best of %d\n", mib,
              kRounds);
  std::printf("%-10s %12s %14s %14s %10s %16s\n", "operation", "ours MiB/s", "openssl MiB/s",
              "+sync MiB/s", "ours/ossl", "ours/(ossl+sync)");
  const char* names[2] = {"encrypt", "decrypt"};
  for (int op = 0; op < 2; ++op) {
    std::printf("%-10s %12.1f %14.1f %14.1f %9.2fx %15.2fx\n", names[op], size / best[op],
                size / best[2 + op], size / best[4 + op], best[2 + op] / best[op],
                best[4 + op] / best[op]);
  }
  std::printf("peak resident memory of our runs above their start: %.2f MiB\n",
              static_cast<double>(peak) / 1024.0);
  std::system(("rm -rf " + dir).c_str());
  return 0;
}
