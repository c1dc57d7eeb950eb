// pehost end to end: the real program run as a child process with the test
// plug-in, on PE files written by the tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "testing/pe_builder.h"
#include "testing/test_folder.h"

namespace pehost {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;  // the exit status, or 128 + the signal
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct PehostTest : testing::Test {
  void SetUp() override {
    program = (dir / "app.exe").string();
    ASSERT_TRUE(test_pe::WriteBytes(program, test_pe::BuildPe(test_pe::SamplePe())));
  }

  /// Starts pehost with `args`; standard input from /dev/null.
  pid_t Start(const std::vector<std::string> &args) {
    const std::string out = (dir / "stdout").string();
    const std::string err = (dir / "stderr").string();
    const pid_t pid = fork();
    if (pid == 0) {
      const int in = open("/dev/null", O_RDONLY);
      dup2(in, 0);
      dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      std::vector<char *> argv{const_cast<char *>(PEHOST_PATH)};
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(PEHOST_PATH, argv.data());
      _exit(127);
    }
    return pid;
  }

  Result Wait(pid_t pid) {
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    Result r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.out = ReadFile(dir / "stdout");
    r.err = ReadFile(dir / "stderr");
    return r;
  }

  Result Run(std::vector<std::string> args) { return Wait(Start(args)); }

  /// The test plug-in on `program` with `extra` options.
  Result RunTest(std::vector<std::string> extra) {
    std::vector<std::string> args{"--plugin", TEST_PLUGIN_PATH};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(program);
    return Run(args);
  }

  TestFolder dir;
  std::string program;
};

TEST_F(PehostTest, OutputWindowAloneOnStandardOutput) {
  const Result r = RunTest({"--start", "1", "--log", "no"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("start=[1]\nlog=0\ncursor=00401010\nname=(none)\ncomment=(none)\ndone\n",
            r.out);
  EXPECT_EQ(std::string::npos, r.err.find("start=")) << r.err;
  EXPECT_FALSE(fs::exists(dir / "app.exe_test.log"));
}

TEST_F(PehostTest, QuestionsTakeTheOptionsAsTypedElseTheDefaults) {
  // No terminal and no answers: "0" and Yes, which writes the plug-in's log.
  Result r = RunTest({});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("start=[0]\nlog=1\n")) << r.out;
  EXPECT_EQ("the test plug-in's log\n", ReadFile(dir / "app.exe_test.log"));

  r = RunTest({"--start", " 1", "--log", "cancel"});
  EXPECT_NE(std::string::npos, r.out.find("start=[ 1]\nlog=-1\n")) << r.out;
  r = RunTest({"--start=01", "--log=yes"});
  EXPECT_NE(std::string::npos, r.out.find("start=[01]\nlog=1\n")) << r.out;
  r = RunTest({"--start", "", "--cursor", "402000"});
  EXPECT_NE(std::string::npos, r.out.find("start=[]\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("cursor=00402000\n")) << r.out;
}

TEST_F(PehostTest, SavedDatabaseCarriesOneRunToTheNext) {
  const std::string db = (dir / "app.db.json").string();
  Result r = RunTest({"--log", "no", "--db", db});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("name=(none)\n")) << r.out;
  ASSERT_TRUE(fs::exists(db));

  r = RunTest({"--log", "no", "--db", db});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("name=test_plugin_first\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("comment=made by the test plug-in\n")) << r.out;

  // A file written by hand with only comments is taken as well.
  std::ofstream(db) << R"({"comments": [{"ea": 4198400, "text": "by hand"}]})";
  r = RunTest({"--log", "no", "--db", db});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("comment=by hand\n")) << r.out;
  // Only the finished file is left in the folder.
  for (const auto &entry : fs::directory_iterator(dir))
    EXPECT_EQ(std::string::npos, entry.path().string().find(".tmp")) << entry.path();
}

TEST_F(PehostTest, JsonAndListingDescribeTheDatabaseAfterTheRun) {
  const Result r = RunTest({"--log", "no", "--json", (dir / "app.json").string(),
                            "--listing", (dir / "app.lst").string()});
  ASSERT_EQ(0, r.status) << r.err;
  const nlohmann::json j = nlohmann::json::parse(ReadFile(dir / "app.json"));
  EXPECT_EQ(fs::absolute(program).lexically_normal().string(), j["input"]);
  EXPECT_EQ(3u, j["segments"].size());
  EXPECT_EQ((nlohmann::json{{"ea", 0x401000}, {"size", 4}, {"type", "dword"}}),
            j["items"][0]);
  EXPECT_EQ((nlohmann::json{{"ea", 0x401004}, {"size", 4}, {"type", "offset"}}),
            j["items"][1]);
  for (const nlohmann::json &item : j["items"]) EXPECT_NE("code", item["type"]);
  EXPECT_EQ((nlohmann::json{{"ea", 0x401000}, {"name", "test_plugin_first"}}),
            j["names"][0]);
  EXPECT_EQ("made by the test plug-in", j["comments"][0]["text"]);
  EXPECT_EQ(0x401010, j["functions"][0]["start"]);
  EXPECT_EQ(0x401010, j["cursor"]);  // moved back after the walk

  const std::string listing = ReadFile(dir / "app.lst");
  EXPECT_NE(std::string::npos, listing.find("test_plugin_first")) << listing;
  EXPECT_NE(std::string::npos, listing.find(".text:00401010")) << listing;
}

TEST_F(PehostTest, PluginRefusalsAndBrokenLibraries) {
  const std::string db = (dir / "app.db.json").string();
  test_pe::PeImage arm = test_pe::SamplePe();
  arm.machine = 0x1C0;
  ASSERT_TRUE(test_pe::WriteBytes(program, test_pe::BuildPe(arm)));
  Result r = RunTest({"--db", db});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("not offered for this database")) << r.err;
  EXPECT_EQ("", r.out);
  EXPECT_FALSE(fs::exists(db));

  r = Run({"--plugin", TEST_PLUGIN_V75_PATH, program});
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos,
            r.err.find("test_plugin_v75.plw: interface 75, expected 76"))
      << r.err;
  r = Run({"--plugin", TEST_PLUGIN_NO_DESCRIPTOR_PATH, program});
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("no PLUGIN descriptor")) << r.err;
  r = Run({"--plugin", (dir / "missing.plw").string(), program});
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("missing.plw")) << r.err;
}

TEST_F(PehostTest, BadUsageAndBadInputChangeNothing) {
  const std::string db = (dir / "app.db.json").string();
  const std::string json = (dir / "app.json").string();
  Result r = Run({});
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("no input file")) << r.err;
  r = Run({"--log", "perhaps", program});
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("--log perhaps")) << r.err;
  r = RunTest({"--json", (dir / "no folder" / "a.json").string()});
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("", r.out);  // refused before the run

  // A database file that cannot be read is refused and kept.
  std::ofstream(db) << "{\"names\": [";
  r = RunTest({"--db", db, "--json", json});
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("app.db.json: not valid JSON")) << r.err;
  EXPECT_EQ("", r.out);
  EXPECT_EQ("{\"names\": [", ReadFile(db));
  EXPECT_FALSE(fs::exists(json));

  // A broken program: one line naming it, nothing written.
  std::vector<uint8_t> bytes = test_pe::BuildPe(test_pe::SamplePe());
  bytes.resize(0x180);  // the headers, cut inside the section table
  ASSERT_TRUE(test_pe::WriteBytes(program, bytes));
  r = RunTest({"--json", json});
  EXPECT_EQ(2, r.status);
  EXPECT_EQ(
      "pehost: " + program + ": truncated: the section table ends outside the file\n",
      r.err);
  EXPECT_FALSE(fs::exists(json));

  EXPECT_EQ(0, Run({"--help"}).status);
  r = Run({"--version"});
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("interface 76")) << r.out;
}

TEST_F(PehostTest, InterruptedRunKeepsTheSavedDatabaseAndTheEarlierLog) {
  const std::string db = (dir / "app.db.json").string();
  const std::string before = R"({"comments": [{"ea": 4198400, "text": "earlier"}]})";
  std::ofstream(db) << before;
  std::ofstream(dir / "app.exe_test.log") << "the earlier log\n";
  const pid_t pid = Start({"--plugin", TEST_PLUGIN_PATH, "--start", "sleep", "--log",
                           "yes", "--db", db, program});
  const fs::path marker = dir / "app.exe.sleeping";
  for (int i = 0; i < 200 && !fs::exists(marker); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(fs::exists(marker));
  kill(pid, SIGINT);
  const Result r = Wait(pid);
  EXPECT_NE(0, r.status);
  EXPECT_EQ(before, ReadFile(db));
  EXPECT_EQ("the earlier log\n", ReadFile(dir / "app.exe_test.log"));
  for (const auto &entry : fs::directory_iterator(dir))
    EXPECT_EQ(std::string::npos, entry.path().string().find(".tmp")) << entry.path();
}

}  // namespace
}  // namespace pehost
