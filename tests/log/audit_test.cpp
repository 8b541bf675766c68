// The audit files against real files in a temporary directory and real threads.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "qor/qoaudit.h"
#include "support/descriptors.h"
#include "support/test_support.h"
#include "support/text_shape.h"

namespace {

using qor::test::MatchesShape;
using qor::test::ReadFile;
using qor::test::RunInChild;
using qor::test::TempDir;
using qor::test::WriteFile;

constexpr uint64_t kLimit = 2097152;

struct Record {
  std::string text;
  uint64_t ms;
  uint64_t ns;
};

// Splits a file's content into records; false when any piece is not a whole
// record or the content does not end with one.
bool ParseRecords(const std::string& content, std::vector<Record>* records) {
  if (!content.empty() && content.back() != ':') return false;
  size_t start = 0;
  while (start < content.size()) {
    const size_t end = content.find(':', start);
    std::vector<std::string> m;
    const std::string piece = content.substr(start, end - start);
    if (!MatchesShape(piece, "*,#+,#+", &m)) return false;
    const size_t textLength = piece.size() - m[0].size() - m[1].size() - 2;
    records->push_back({piece.substr(0, textLength), std::stoull(m[0]), std::stoull(m[1])});
    start = end + 1;
  }
  return true;
}

uint64_t NowNs() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000ULL + static_cast<uint64_t>(now.tv_nsec);
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

uint64_t SizeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

using qor::test::OpenDescriptorsTo;

// The series' file names, in rotation order; fails the test on a gap.
std::vector<std::string> SeriesIn(const std::string& directory) {
  std::map<unsigned long, std::string> byIndex;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    std::vector<std::string> m;
    const std::string name = entry.path().filename().string();
    if (MatchesShape(name, "audit_p#+_t#+_r#+.dat", &m)) byIndex[std::stoul(m[2])] = entry.path().string();
  }
  std::vector<std::string> files;
  for (const auto& [index, path] : byIndex) {
    EXPECT_EQ(index, files.size()) << "gap in the series before " << path;
    files.push_back(path);
  }
  return files;
}

std::string WithIndex(const std::string& path, unsigned long index) {
  // The index is the last "_r<digits>.dat" of the name.
  std::vector<std::string> m;
  if (!MatchesShape(path, "*_r#+.dat", &m)) return path;
  const std::string& old = m.back();
  return path.substr(0, path.size() - old.size() - 4) + std::to_string(index) + ".dat";
}

// |base| extended by directory names of at most 100 characters to |length|.
std::string PathOfLength(std::string base, size_t length) {
  while (base.size() + 1 < length) {
    base += "/" + std::string(std::min<size_t>(100, length - base.size() - 1), 'l');
  }
  return base;
}

class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(umask(mask)) {}
  ~ScopedUmask() { umask(saved_); }

 private:
  mode_t saved_;
};

class AuditTest : public ::testing::Test {
 protected:
  void TearDown() override { QOAudit_Uninit(); }

  std::string Home() const { return home_.path(); }
  std::string AuditDir() const { return home_ / "audit"; }
  int Init() { return QOAudit_Init(Home().c_str()); }
  static void Write(const std::string& text) {
    lwl_audit_write(QOLog_Audit_GetHandle(), 6, "%s", text.c_str());
  }

  // Writes records until the current file holds exactly the limit.
  static void FillToLimit() {
    const std::string path = QOAudit_GetPath();
    uint64_t before = SizeOf(path);
    Write(std::string(100, 'f'));
    const uint64_t overhead = SizeOf(path) - before - 100;  // ",<ms>,<ns>:"
    for (;;) {
      const uint64_t remaining = kLimit - SizeOf(path);
      if (remaining <= 1023 + overhead) {
        Write(std::string(remaining - overhead, 'f'));
        break;
      }
      // Leaves room for at least a one-character record at the end.
      Write(std::string(std::min<uint64_t>(1000, remaining - 2 * overhead - 1), 'f'));
    }
    ASSERT_EQ(SizeOf(path), kLimit);
    ASSERT_EQ(QOAudit_GetPath(), path);
  }

  TempDir home_;
};

TEST(AuditNames, BuildNameComposesAndRefuses) {
  struct Case {
    std::string directory;
    const char* stamp;
    unsigned long pid;
    unsigned long index;
    std::string expected;  // empty: refused
  };
  const std::string suffix = "/audit_p4242_t17000_r0.dat";
  const std::string fits(1023 - 1 - suffix.size(), 'd');  // the path takes 1023 bytes
  const Case cases[] = {
      {"/home/audit", "17000", 4242, 0, "/home/audit/audit_p4242_t17000_r0.dat"},
      {"/home/audit", "17000", 4242, 1, "/home/audit/audit_p4242_t17000_r1.dat"},
      {"/home/audit/", "17000", 4242, 0, "/home/audit/audit_p4242_t17000_r0.dat"},
      {"rel", "1765350000123456789", 1, 18446744073709551615UL,
       "rel/audit_p1_t1765350000123456789_r18446744073709551615.dat"},
      {fits, "17000", 4242, 0, fits + suffix},
      {fits + "d", "17000", 4242, 0, ""},
      {std::string(2000, 'd'), "17000", 4242, 0, ""},
  };
  for (const Case& c : cases) {
    char out[QOAUDIT_PATH_MAX];
    std::memset(out, 'z', sizeof(out));
    const int result = build_name(c.directory.c_str(), c.stamp, c.pid, c.index, out);
    if (c.expected.empty()) {
      EXPECT_EQ(result, -1) << c.directory.size();
      EXPECT_EQ(out[0], 'z') << "nothing is written when the path is refused";
    } else {
      EXPECT_EQ(result, 0) << c.directory.size();
      EXPECT_EQ(std::string(out), c.expected);
    }
  }
  char out[QOAUDIT_PATH_MAX];
  EXPECT_EQ(build_name(nullptr, "1", 1, 0, out), -1);
  EXPECT_EQ(build_name("/d", nullptr, 1, 0, out), -1);
  EXPECT_EQ(build_name("/d", "1", 1, 0, nullptr), -1);
}

TEST_F(AuditTest, FirstFileIsNamedAfterProcessAndStartTime) {
  EXPECT_EQ(QOLog_Audit_IsEnable(), 0);
  EXPECT_EQ(QOLog_Audit_GetHandle(), nullptr);
  EXPECT_STREQ(QOAudit_GetPath(), "");

  const uint64_t before = NowNs();
  ASSERT_EQ(Init(), 0);
  const uint64_t after = NowNs();
  EXPECT_EQ(QOLog_Audit_IsEnable(), 1);
  ASSERT_NE(QOLog_Audit_GetHandle(), nullptr);
  EXPECT_EQ(lwl_get_log_level(QOLog_Audit_GetHandle()), 6u);

  const std::string path = QOAudit_GetPath();
  std::vector<std::string> m;
  const std::string prefix = AuditDir() + "/audit_p" + std::to_string(getpid()) + "_t";
  ASSERT_EQ(path.rfind(prefix, 0), 0u) << path;
  ASSERT_TRUE(MatchesShape(path.substr(prefix.size()), "#+_r0.dat", &m)) << path;
  const uint64_t stamp = std::stoull(m[0]);
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
  EXPECT_EQ(SizeOf(path), 0u);
}

// The trail must not be writable by other users, whatever the umask; the
// directory keeps the mode it is created with.
TEST_F(AuditTest, FileIsOwnerWritableOnlyUnderAnyUmask) {
  for (const mode_t mask : {0000, 0022, 0077}) {
    SCOPED_TRACE(mask);
    TempDir home;
    {
      ScopedUmask scoped(static_cast<mode_t>(mask));
      ASSERT_EQ(QOAudit_Init(home.path().c_str()), 0);
    }
    EXPECT_EQ(ModeOf(QOAudit_GetPath()), 0644u);
    EXPECT_EQ(ModeOf(home / "audit"), 0777u & ~static_cast<mode_t>(mask));
    QOAudit_Uninit();
  }
}

TEST_F(AuditTest, RecordIsTextMillisecondsNanosecondsAndColon) {
  ASSERT_EQ(Init(), 0);
  const uint64_t before = NowNs();
  Write("K,E,S,S");
  const uint64_t after = NowNs();

  const std::string content = ReadFile(QOAudit_GetPath());
  std::vector<std::string> m;
  ASSERT_TRUE(MatchesShape(content, "K,E,S,S,#+,#+:", &m)) << content;
  const uint64_t ms = std::stoull(m[0]);
  const uint64_t ns = std::stoull(m[1]);
  EXPECT_GE(ns, before);
  EXPECT_LE(ns, after);
  EXPECT_EQ(ms, ns / 1000000);

  // Records follow each other with no separator of their own.
  lwl_audit_write(QOLog_Audit_GetHandle(), 6, "%s,%s,%s,%s", "K", "D", "F", "ACC");
  std::vector<Record> records;
  ASSERT_TRUE(ParseRecords(ReadFile(QOAudit_GetPath()), &records));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].text, "K,D,F,ACC");
}

TEST_F(AuditTest, TextIsCutTo1023Characters) {
  ASSERT_EQ(Init(), 0);
  Write(std::string(1023, 'a'));
  Write(std::string(1500, 'b'));
  lwl_audit_write(QOLog_Audit_GetHandle(), 6, "%s%s", std::string(1000, 'c').c_str(),
                  std::string(1000, 'd').c_str());
  std::vector<Record> records;
  ASSERT_TRUE(ParseRecords(ReadFile(QOAudit_GetPath()), &records));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].text, std::string(1023, 'a'));
  EXPECT_EQ(records[1].text, std::string(1023, 'b'));
  EXPECT_EQ(records[2].text, std::string(1000, 'c') + std::string(23, 'd'));
}

TEST_F(AuditTest, OnlyTheAuditLoggerAtItsLevelWrites) {
  ASSERT_EQ(Init(), 0);
  lwl_audit_write(QOLog_Audit_GetHandle(), 7, "%s", "debug");
  lwl_audit_write(nullptr, 6, "%s", "none");
  lwl_t* other = lwl_alloc();
  ASSERT_NE(other, nullptr);
  lwl_audit_write(other, 6, "%s", "plain logger");
  lwl_free(other);
  EXPECT_EQ(ReadFile(QOAudit_GetPath()), "");

  lwl_audit_write(QOLog_Audit_GetHandle(), 0, "%s", "any level up to 6");
  Write("six");
  std::vector<Record> records;
  ASSERT_TRUE(ParseRecords(ReadFile(QOAudit_GetPath()), &records));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].text, "six");
}

TEST_F(AuditTest, SecondInitIsRefusedAndKeepsTheFirstFile) {
  ASSERT_EQ(Init(), 0);
  const std::string first = QOAudit_GetPath();
  lwl_t* handle = QOLog_Audit_GetHandle();
  TempDir otherHome;
  EXPECT_EQ(Init(), -1);
  EXPECT_EQ(QOAudit_Init(otherHome.path().c_str()), -1);
  EXPECT_EQ(QOAudit_GetPath(), first);
  EXPECT_EQ(QOLog_Audit_GetHandle(), handle);
  EXPECT_FALSE(std::filesystem::exists(otherHome / "audit"));
  Write("after");
  EXPECT_EQ(SeriesIn(AuditDir()), std::vector<std::string>{first});
  EXPECT_NE(ReadFile(first).find("after,"), std::string::npos);
}

TEST_F(AuditTest, UninitStopsWritingAndInitStartsANewSeries) {
  ASSERT_EQ(Init(), 0);
  lwl_t* stale = QOLog_Audit_GetHandle();
  const std::string first = QOAudit_GetPath();
  Write("one");
  QOAudit_Uninit();
  QOAudit_Uninit();  // twice is harmless
  EXPECT_EQ(QOLog_Audit_IsEnable(), 0);
  EXPECT_EQ(QOLog_Audit_GetHandle(), nullptr);
  EXPECT_STREQ(QOAudit_GetPath(), "");
  EXPECT_EQ(OpenDescriptorsTo(first), 0);
  lwl_audit_write(stale, 6, "%s", "late");

  ASSERT_EQ(Init(), 0);
  EXPECT_NE(QOAudit_GetPath(), first);
  lwl_audit_write(stale, 6, "%s", "two");  // the same logger again
  std::vector<Record> records;
  ASSERT_TRUE(ParseRecords(ReadFile(first), &records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, "one");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(AuditDir()),
                          std::filesystem::directory_iterator()),
            2);  // two series of one file each
}

TEST_F(AuditTest, RefusesMissingHomeAndUnusableDirectories) {
  EXPECT_EQ(QOAudit_Init(nullptr), -1);
  EXPECT_EQ(QOAudit_Init(""), -1);

  WriteFile(home_ / "plain", "not a directory");
  WriteFile(home_ / "filehome/audit", "a file where the directory belongs");
  struct Case {
    std::string home;
    int expected;
  };
  const Case cases[] = {
      {home_ / "plain", -2},                         // below a regular file: cannot be made
      {home_ / "plain/deeper", -2},
      {PathOfLength(Home(), 506), -2},               // home + "/audit" passes 511 characters
      {home_ / "filehome", -3},                      // exists, but is no directory
  };
  for (const Case& c : cases) {
    EXPECT_EQ(QOAudit_Init(c.home.c_str()), c.expected) << c.home;
    EXPECT_EQ(QOLog_Audit_GetHandle(), nullptr);
    EXPECT_EQ(QOLog_Audit_IsEnable(), 0);
  }

  // A missing directory is created, the longest home that fits included.
  const std::string longest = PathOfLength(Home(), 505);
  std::filesystem::create_directories(longest);
  EXPECT_EQ(QOAudit_Init(longest.c_str()), 0);
  EXPECT_TRUE(std::filesystem::is_directory(longest + "/audit"));
}

// Permission bits do not stop root; an unprivileged child shows them.
TEST_F(AuditTest, UnwritableDirectoriesAsAnOrdinaryUser) {
  const std::string home = home_ / "home";
  std::filesystem::create_directories(home + "/existing/audit");
  std::filesystem::create_directories(home + "/locked");
  chmod(Home().c_str(), 0755);
  chmod(home.c_str(), 0755);
  chmod((home + "/existing").c_str(), 0755);
  chmod((home + "/existing/audit").c_str(), 0555);
  chmod((home + "/locked").c_str(), 0555);
  const std::string failure = RunInChild([&]() -> std::string {
    if (geteuid() == 0) CHILD_CHECK(setgid(65534) == 0 && setuid(65534) == 0);
    CHILD_CHECK(QOAudit_Init((home + "/existing").c_str()) == -3);
    CHILD_CHECK(QOAudit_Init((home + "/locked").c_str()) == -2);
    CHILD_CHECK(QOLog_Audit_GetHandle() == nullptr);
    return "";
  });
  EXPECT_EQ(failure, "");
}

// Paths longer than the 512 characters of the log's own file names still fit.
TEST_F(AuditTest, LongHomeKeepsTheWholePath) {
  const std::string home = PathOfLength(Home(), 480);
  std::filesystem::create_directories(home);
  ASSERT_EQ(QOAudit_Init(home.c_str()), 0);
  const std::string path = QOAudit_GetPath();
  EXPECT_GT(path.size(), 512u);
  EXPECT_EQ(path.rfind(home + "/audit/audit_p", 0), 0u) << path;
  Write("long");
  EXPECT_NE(ReadFile(path).find("long,"), std::string::npos);
}

TEST_F(AuditTest, RecordThatWouldPassTheLimitStartsTheNextFile) {
  ASSERT_EQ(Init(), 0);
  const std::string r0 = QOAudit_GetPath();
  FillToLimit();  // a record that lands exactly on the limit stays
  Write("next");

  const std::string r1 = WithIndex(r0, 1);
  EXPECT_EQ(QOAudit_GetPath(), r1);
  EXPECT_EQ(SeriesIn(AuditDir()), (std::vector<std::string>{r0, r1}));
  EXPECT_EQ(SizeOf(r0), kLimit);
  std::vector<Record> records;
  ASSERT_TRUE(ParseRecords(ReadFile(r0), &records));
  records.clear();
  ASSERT_TRUE(ParseRecords(ReadFile(r1), &records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, "next");
  EXPECT_EQ(ModeOf(r1), 0644u);
  EXPECT_EQ(OpenDescriptorsTo(r0), 0);
  EXPECT_EQ(OpenDescriptorsTo(r1), 2);  // the descriptor and the logger's stream
  EXPECT_EQ(QOLog_Audit_IsEnable(), 1);
}

// A rotation that cannot open the next file must leave the current one open:
// closing it first would leave a number the system hands to the next file
// opened, which later writers and rotations would then write to and close.
TEST_F(AuditTest, FailedRotationKeepsTheCurrentFileAndDropsTheRecord) {
  ASSERT_EQ(Init(), 0);
  const std::string r0 = QOAudit_GetPath();
  FillToLimit();
  const std::string moved = home_ / "moved";
  ASSERT_EQ(rename(AuditDir().c_str(), moved.c_str()), 0);
  const std::string movedR0 = moved + r0.substr(AuditDir().size());

  Write("lost one");
  const std::string bystander = home_ / "bystander";
  const int fd = open(bystander.c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_GE(fd, 0);
  Write("lost two");
  EXPECT_NE(fcntl(fd, F_GETFD), -1) << "a descriptor the writer does not own was closed";
  close(fd);
  EXPECT_EQ(ReadFile(bystander), "");
  EXPECT_EQ(OpenDescriptorsTo(movedR0), 2);
  EXPECT_EQ(QOLog_Audit_IsEnable(), 1);
  EXPECT_EQ(QOAudit_GetPath(), r0);

  ASSERT_EQ(rename(moved.c_str(), AuditDir().c_str()), 0);
  Write("kept");
  const std::string r1 = WithIndex(r0, 1);
  EXPECT_EQ(QOAudit_GetPath(), r1);
  EXPECT_EQ(SizeOf(r0), kLimit);
  std::vector<Record> records;
  ASSERT_TRUE(ParseRecords(ReadFile(r1), &records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, "kept");
}

// The directory is world-writable, so anyone can put something at the next
// name first. Nothing but a new regular file of our own is written to.
TEST_F(AuditTest, NextFileIsNeverSomethingPlantedAtItsName) {
  enum class Plant { kSymlink, kHardLink, kFifo };
  for (const Plant plant : {Plant::kSymlink, Plant::kHardLink, Plant::kFifo}) {
    SCOPED_TRACE(static_cast<int>(plant));
    TempDir home;
    ASSERT_EQ(QOAudit_Init(home.path().c_str()), 0);
    const std::string r1 = WithIndex(QOAudit_GetPath(), 1);
    const std::string victim = home / "victim";
    WriteFile(victim, "precious");
    chmod(victim.c_str(), 0600);
    switch (plant) {
      case Plant::kSymlink: ASSERT_EQ(symlink(victim.c_str(), r1.c_str()), 0); break;
      case Plant::kHardLink: ASSERT_EQ(link(victim.c_str(), r1.c_str()), 0); break;
      case Plant::kFifo: ASSERT_EQ(mkfifo(r1.c_str(), 0666), 0); break;
    }
    FillToLimit();
    Write("refused");  // a pipe without a reader would block here for good
    EXPECT_EQ(ReadFile(victim), "precious");
    EXPECT_EQ(ModeOf(victim), 0600u);
    EXPECT_NE(QOAudit_GetPath(), r1);

    ASSERT_EQ(unlink(r1.c_str()), 0);
    Write("accepted");
    EXPECT_EQ(QOAudit_GetPath(), r1);
    std::vector<Record> records;
    ASSERT_TRUE(ParseRecords(ReadFile(r1), &records));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "accepted");
    QOAudit_Uninit();
  }
}

// Many writers across several rotations: every record lands whole in exactly
// one file, no file passes the limit, and the path readers see is never torn.
TEST_F(AuditTest, ConcurrentWritersLoseAndTearNothingAcrossRotations) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 2500;
  ASSERT_EQ(Init(), 0);
  const std::string directory = AuditDir() + "/";
  const auto wholePath = [&](const std::string& path) {
    return path.rfind(directory, 0) == 0 &&
           MatchesShape(std::string_view(path).substr(directory.size()), "audit_p#+_t#+_r#+.dat");
  };
  auto textFor = [](int thread, int seq) {
    return "t" + std::to_string(thread) + "-" + std::to_string(seq) + "-" +
           std::string(static_cast<size_t>(50 + (seq * 7 + thread * 13) % 950), 'x');
  };

  std::atomic<bool> done{false};
  std::atomic<int> tornPaths{0};
  std::thread reader([&] {
    while (!done.load()) {
      if (!wholePath(QOAudit_GetPath())) ++tornPaths;
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int seq = 0; seq < kPerThread; ++seq) Write(textFor(t, seq));
    });
  }
  for (auto& w : writers) w.join();
  done = true;
  reader.join();
  EXPECT_EQ(tornPaths.load(), 0);

  const std::vector<std::string> files = SeriesIn(AuditDir());
  EXPECT_GE(files.size(), 4u);
  EXPECT_EQ(QOAudit_GetPath(), files.back());
  std::set<std::pair<int, int>> seen;
  size_t total = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    EXPECT_LE(SizeOf(file), kLimit);
    EXPECT_EQ(ModeOf(file), 0644u);
    std::vector<Record> records;
    ASSERT_TRUE(ParseRecords(ReadFile(file), &records));
    for (const Record& r : records) {
      std::vector<std::string> m;
      ASSERT_TRUE(MatchesShape(r.text, "t#+-#+-x+", &m)) << r.text.substr(0, 80);
      const int t = std::stoi(m[0]);
      const int seq = std::stoi(m[1]);
      EXPECT_EQ(r.text, textFor(t, seq));
      EXPECT_TRUE(seen.insert({t, seq}).second) << "twice: " << t << " " << seq;
    }
    total += records.size();
  }
  EXPECT_EQ(total, static_cast<size_t>(kThreads) * kPerThread);
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads) * kPerThread);
  for (size_t i = 0; i + 1 < files.size(); ++i) EXPECT_EQ(OpenDescriptorsTo(files[i]), 0);
}

// One record per outcome whose switch is on, in the form the value and file
// pipelines write.
TEST_F(AuditTest, OutcomeRecordsFollowTheirSwitches) {
  ASSERT_EQ(0, Init());
  const int32_t on[2] = {1, 1};
  const int32_t off[2] = {0, 0};
  const int32_t two[2] = {2, 255};  // only exactly 1 switches a record on
  struct Case {
    int operation;
    int outcome;
    const char* tag;
    const int32_t* enc;
    const int32_t* dec;
    const char* expected;  // nullptr: nothing written
  };
  const Case cases[] = {
      {1, 1, nullptr, on, off, "K,E,S,S"},
      {1, 0, "KED", on, off, "K,E,F,KED"},
      {1, 0, nullptr, on, off, "K,E,F,"},
      {2, 1, "ignored", off, on, "K,D,S,S"},
      {2, 0, "DUP", off, on, "K,D,F,DUP"},
      {1, 1, nullptr, off, on, nullptr},
      {2, 0, "ACC", on, off, nullptr},
      {1, 1, nullptr, two, two, nullptr},
      {1, 0, "KED", two, two, nullptr},
      {3, 1, nullptr, on, on, nullptr},
      {1, 2, nullptr, on, on, nullptr},
      {1, 1, nullptr, nullptr, nullptr, nullptr},
  };
  size_t read = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected != nullptr ? c.expected : "nothing");
    Audit_Writer("K", c.operation, c.outcome, c.tag, c.enc, c.dec);
    std::vector<Record> records;
    ASSERT_TRUE(ParseRecords(ReadFile(QOAudit_GetPath()).substr(read), &records));
    read = ReadFile(QOAudit_GetPath()).size();
    std::vector<std::string> texts;
    for (const Record& r : records) texts.push_back(r.text);
    if (c.expected == nullptr) {
      EXPECT_TRUE(texts.empty());
    } else {
      EXPECT_EQ(std::vector<std::string>{c.expected}, texts);
    }
  }
  QOAudit_Uninit();
  Audit_Writer("K", 1, 1, nullptr, on, on);  // no audit file: nothing, no crash
}

}  // namespace
