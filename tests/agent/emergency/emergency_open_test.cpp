// The emergency file and its secret are read only when they are regular
// files: a FIFO at either name would otherwise block the loading call (and
// with it the instance lock) forever. An alarm ends a child that hangs.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "agent/emergency/emergency_file.h"
#include "agent/emergency/file_secret.h"
#include "qor/policy_file.h"
#include "support/test_support.h"

namespace {

using qor::agent::EmergencyLoad;
using qor::test::RunInChild;
using qor::test::TempDir;
using qor::test::WriteFile;

struct Planted {
  const char* name;
  std::function<void(const std::string& path)> plant;
};

const Planted kPlanted[] = {
    {"fifo", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
    {"directory", [](const std::string& p) { std::filesystem::create_directory(p); }},
    {"dangling link",
     [](const std::string& p) { std::filesystem::create_symlink(p + ".gone", p); }},
};

TEST(EmergencyOpen, NothingButARegularFileIsRead) {
  for (const Planted& c : kPlanted) {
    for (const bool atSecret : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (atSecret ? " at agent.key" : " at agent.dat"));
      TempDir home;
      std::filesystem::create_directories(home / "conf");
      const std::string dat = qor::agent::EmergencyFilePath(home.path());
      const std::string key = qor::agent::FileSecretPath(home.path());
      if (atSecret) {
        WriteFile(dat, std::string(64, 'x'));  // salt and a body: reading reaches the secret
        c.plant(key);
      } else {
        WriteFile(key, std::string(16, 'k'));
        c.plant(dat);
      }
      EXPECT_EQ(RunInChild([&]() -> std::string {
        alarm(60);
        ErrorInfo error{};
        DataBuffer record{0, nullptr};
        const EmergencyLoad load = qor::agent::LoadEmergencyPolicy(home.path(), &record, &error);
        CHILD_CHECK(load == (atSecret ? EmergencyLoad::kNoSecret : EmergencyLoad::kNoFile));
        CHILD_CHECK(record.data == nullptr);
        if (!atSecret) {
          // The record reader refuses the same names on its own.
          unsigned char secret[16] = {0}, salt[32] = {0};
          CHILD_CHECK(ReadPolicyFile(dat.c_str(), &record, secret, salt) == -1);
        }
        return "";
      }), "");
    }
  }
}

}  // namespace
