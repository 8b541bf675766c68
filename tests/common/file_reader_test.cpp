// Line and whole-file readers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "qor/qoutil.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using qor::test::TempDir;
using qor::test::WriteFile;

struct Seen {
  std::vector<std::string> lines;
  std::vector<int> capacities;
  std::vector<std::string> keys;
};

int CollectEx(void* userData, int capacity, char* line, const char* key) {
  auto* seen = static_cast<Seen*>(userData);
  seen->lines.emplace_back(line);
  seen->capacities.push_back(capacity);
  seen->keys.emplace_back(key != nullptr ? key : "<null>");
  return 0;
}

int Collect(void* context, char* line) {
  static_cast<Seen*>(context)->lines.emplace_back(line);
  return 0;
}

TEST(FileStreamReader, LinesWithAndWithoutCarriageReturnHandling) {
  struct Case {
    std::string content;
    std::vector<std::string> ex;     // what ReadLineEx hands over
    std::vector<std::string> plain;  // what ReadLine hands over
  };
  const std::string long1023(1023, 'x');
  const Case cases[] = {
      {"", {}, {}},
      {"a\nb\n", {"a\n", "b\n"}, {"a\n", "b\n"}},
      {"a\r\nb\r\n", {"a\n", "b\n"}, {"a\r\n", "b\r\n"}},
      {"no newline", {"no newline"}, {"no newline"}},
      {"cr\ronly\n", {"cr\ronly\n"}, {"cr\ronly\n"}},
      {"\n\n", {"\n", "\n"}, {"\n", "\n"}},
      {long1023 + "yz\n", {long1023, "yz\n"}, {long1023, "yz\n"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile(dir / "f", c.content);
    Seen ex, plain;
    EXPECT_EQ(FileStreamReader_ReadLineEx((dir / "f").c_str(), &CollectEx, &ex, "KEY"), 0);
    EXPECT_EQ(FileStreamReader_ReadLine((dir / "f").c_str(), &Collect, &plain), 0);
    EXPECT_EQ(ex.lines, c.ex) << c.content.size();
    EXPECT_EQ(plain.lines, c.plain) << c.content.size();
    for (int capacity : ex.capacities) EXPECT_EQ(capacity, 1024);
    for (const std::string& key : ex.keys) EXPECT_EQ(key, "KEY");
  }
}

TEST(FileStreamReader, LineReaderFailures) {
  TempDir dir;
  WriteFile(dir / "f", "x\n");
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  Seen seen;
  EXPECT_EQ(FileStreamReader_ReadLineEx((dir / "f").c_str(), nullptr, &seen, "K"), -1);
  EXPECT_EQ(FileStreamReader_ReadLine((dir / "f").c_str(), nullptr, &seen), -1);
  EXPECT_EQ(FileStreamReader_ReadLineEx((dir / "missing").c_str(), &CollectEx, &seen, "K"), -1);
  EXPECT_EQ(FileStreamReader_ReadLine(nullptr, &Collect, &seen), -1);
  EXPECT_TRUE(seen.lines.empty());
  const std::string text = log.text();
  const std::string missing = dir / "missing";
  for (const std::string& line :
       {std::string("FileStreamReader_ReadLineEx [source/Common/FileStreamReader:"),
        std::string("FileStreamReader_ReadLine [source/Common/FileStreamReader:"),
        std::string("] >> CallBack Function ptr is null\n"),
        "] >> file open failed [file:" + missing + ", len:" + std::to_string(missing.size()) +
            "]\n",
        std::string("] >> file open failed [file:NULL, len:0]\n")}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
}

TEST(FileStreamReader, WholeFile) {
  TempDir dir;
  std::string bytes("\x00\x01\r\n\xFFtail", 8);
  WriteFile(dir / "f", bytes);
  WriteFile(dir / "empty", "");
  unsigned char* data = nullptr;
  size_t length = 99;
  ASSERT_EQ(FileStreamReader_Read((dir / "f").c_str(), "rb", &data, &length), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), length), bytes);
  std::free(data);

  data = nullptr;
  ASSERT_EQ(FileStreamReader_Read((dir / "empty").c_str(), nullptr, &data, &length), 0);
  EXPECT_EQ(length, 0u);
  EXPECT_NE(data, nullptr);
  std::free(data);

  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  EXPECT_EQ(FileStreamReader_Read((dir / "f").c_str(), "rb", nullptr, &length), -1);
  EXPECT_EQ(FileStreamReader_Read((dir / "f").c_str(), "rb", &data, nullptr), -1);
  EXPECT_EQ(FileStreamReader_Read((dir / "missing").c_str(), "rb", &data, &length), -1);
  EXPECT_EQ(FileStreamReader_Read(nullptr, "rb", &data, &length), -1);
  const std::string text = log.text();
  EXPECT_NE(text.find("] >> pOutData is NULL\n"), std::string::npos) << text;
  EXPECT_NE(text.find("] >> file Open Failed [file:" + (dir / "missing")), std::string::npos);
  EXPECT_NE(text.find("] >> file Open Failed [file:NULL, len:0]\n"), std::string::npos);
}

TEST(FileStreamReader, Open) {
  TempDir dir;
  WriteFile(dir / "f", "abc");
  FILE* file = FileStream_Open((dir / "f").c_str(), nullptr);  // "r" by default
  ASSERT_NE(file, nullptr);
  char buffer[8] = {};
  EXPECT_EQ(fread(buffer, 1, sizeof(buffer), file), 3u);
  EXPECT_EQ(fputc('x', file), EOF);  // not writable
  fclose(file);
  file = FileStream_Open((dir / "g").c_str(), "w");
  ASSERT_NE(file, nullptr);
  fclose(file);

  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  EXPECT_EQ(FileStream_Open(nullptr, "r"), nullptr);
  EXPECT_EQ(FileStream_Open((dir / "missing").c_str(), "r"), nullptr);
  const std::string text = log.text();
  EXPECT_NE(text.find("] >> Invalid FileName [Null Pointer]\n"), std::string::npos) << text;
  EXPECT_NE(text.find("] >> file open error [open mode:r]\n\tcause : [2]"), std::string::npos)
      << text;
  EXPECT_NE(text.find(" [filename:" + (dir / "missing") + "]\n"), std::string::npos) << text;
}

}  // namespace
