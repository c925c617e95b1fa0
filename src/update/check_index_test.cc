// The index of verified files: its file format, when it may be used, and
// what a start with it reads.
#include "update/check_index.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/text.h"
#include "release/sha256.h"
#include "test_util.h"
#include "update/local_hash.h"

namespace tvl {


namespace {

namespace fs = std::filesystem;

CheckIndex sample() {
  CheckIndex index;
  index.launcher = platform::FileIdentity{1000, 1700000000123456789, 42, 7};
  index.lastFullCheck = 1700000000;
  index.files["data/a b.pak"] = {"5D41402ABC4B2A76B9719D911017C592", {5, -3, 42, 1ull << 40}};
  index.files["data/textures/7.png"] = {"7D793037A0760186574B0282F2F435E7", {0, 0, 0, 0}};
  return index;
}

std::string sealed(const std::string& body) {
  release::Digest d = release::sha256Of(body.data(), body.size());
  return body + "end 0 " + toHexLower(d.data(), d.size()) + "\n";
}

TEST(CheckIndexFile, RefusesDamagedTruncatedAndForeignText) {
  std::string good = formatCheckIndex(sample());
  CheckIndex out;
  for (size_t i = 0; i < good.size(); ++i) {
    std::string damaged = good;
    damaged[i] = static_cast<char>(damaged[i] ^ 0x01);
    EXPECT_FALSE(parseCheckIndex(damaged, &out)) << "byte " << i;
    EXPECT_FALSE(parseCheckIndex(good.substr(0, i), &out)) << "cut at " << i;
  }
  EXPECT_FALSE(parseCheckIndex(good + "x", &out));
  // Sealed, but not what this build writes.
  std::string header = good.substr(0, good.find('\n') + 1);
  std::string body = "launcher 1 2 3 4\nfull 5\n";
  EXPECT_TRUE(parseCheckIndex(sealed(header + body), &out));
  const char* foreign[] = {"TervalisOnline2D verified files 2 posix\n", "TervalisOnline2D verified files 1 windows\n",
                           "TervalisOnline2D verified files 1 posix\n", "release 5\n"};
  for (const char* other : foreign) {
    if (other != header) {
      EXPECT_FALSE(parseCheckIndex(sealed(other + body), &out)) << other;
    }
  }
  // A record count that does not match, a lower-case digest, a missing name.
  EXPECT_FALSE(parseCheckIndex(sealed(header + body).replace(sealed(header + body).rfind("end 0"), 5, "end 1"), &out));
  EXPECT_FALSE(parseCheckIndex(sealed(header + body + "5d41402abc4b2a76b9719d911017c592\t5\t1\t2\t3\tx\n"), &out));
  EXPECT_FALSE(parseCheckIndex(sealed(header + body + "5D41402ABC4B2A76B9719D911017C592\t5\t1\t2\t3\n"), &out));
}

TEST(CheckIndexFile, WritesThroughATemporaryName) {
  testutil::TempDir dir;
  std::string path = dir.file("verified.txt");
  CheckIndex out;
  EXPECT_EQ(readCheckIndex(path, &out), IndexState::kMissing);
  std::string error;
  ASSERT_TRUE(writeCheckIndex(path, sample(), &error)) << error;
  testutil::writeFile(path + ".tmp", "left by a killed run");
  CheckIndex second = sample();
  second.files.erase("data/a b.pak");
  ASSERT_TRUE(writeCheckIndex(path, second, &error)) << error;
  EXPECT_FALSE(testutil::exists(path + ".tmp"));
  std::string text;
  ASSERT_EQ(readCheckIndex(path, &out, &text), IndexState::kOk);
  EXPECT_EQ(text, formatCheckIndex(second));
  EXPECT_EQ(formatCheckIndex(out), text);
  EXPECT_EQ(out.launcher, second.launcher);
  EXPECT_EQ(out.files.at("data/textures/7.png").digest, "7D793037A0760186574B0282F2F435E7");
  testutil::writeFile(path, testutil::readFile(path).substr(0, 40));
  EXPECT_EQ(readCheckIndex(path, &out), IndexState::kDamaged);
  EXPECT_FALSE(writeCheckIndex(dir.file("no/such/verified.txt"), sample(), &error));
  EXPECT_NE(error.find("verified.txt"), std::string::npos);
}

TEST(CheckIndexFile, FullCheckTriggers) {
  CheckIndex index = sample();
  const platform::FileIdentity same = index.launcher;
  platform::FileIdentity rebuilt = same;
  rebuilt.size += 1;
  platform::FileIdentity copied = same;
  copied.index += 1;
  const int64_t t = index.lastFullCheck;
  struct Case {
    IndexState state;
    bool launcherKnown;
    platform::FileIdentity launcher;
    bool restarted;
    int64_t now;
    int days;
    const char* want;  // "" when the index may be used
  } cases[] = {
      {IndexState::kOk, true, same, false, t, 7, ""},
      {IndexState::kOk, true, same, false, t + 7 * 86400 - 1, 7, ""},
      {IndexState::kOk, true, same, false, t + 7 * 86400, 7, "7 days ago"},
      {IndexState::kOk, true, same, false, t + 86400, 1, "1 days ago"},
      {IndexState::kOk, true, same, false, t - 1, 7, "clock"},
      {IndexState::kMissing, true, same, false, t, 7, "no index"},
      {IndexState::kDamaged, true, same, false, t, 7, "damaged"},
      {IndexState::kOk, false, same, false, t, 7, "cannot be read"},
      {IndexState::kOk, true, same, true, t, 7, "replaced"},
      {IndexState::kOk, true, rebuilt, false, t, 7, "replaced"},
      {IndexState::kOk, true, copied, false, t, 7, "replaced"},
  };
  for (const Case& c : cases) {
    std::string why = fullCheckReason(c.state, index, c.launcherKnown, c.launcher, c.restarted, c.now, c.days);
    if (*c.want == '\0')
      EXPECT_EQ(why, "") << c.now - t;
    else
      EXPECT_NE(why.find(c.want), std::string::npos) << why;
  }
}

int64_t theTime = 1700000000;
int64_t testClock() { return theTime; }

// Starts over a scratch program directory: every start is a new Updater,
// as in a new process.
class LocalCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir.file("data"));
    testutil::writeFile(dir.file("TervalisOnline2D.exe"), "launcher");
    ASSERT_TRUE(acquireCryptProvider(hasher));
  }
  void TearDown() override { releaseCryptProvider(hasher); }

  std::string md5(const std::string& bytes) {
    return md5Hex(hasher, reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
  }
  FileListEntry entry(const std::string& name, const std::string& content) {
    FileListEntry e;
    e.name = name;
    e.digest = md5(content);
    return e;
  }
  // A file with a modification time an hour back, so that a test can move it.
  void put(const std::string& name, const std::string& content) {
    testutil::writeFile(dir.file(name), content);
    fs::last_write_time(dir.file(name), fs::last_write_time(dir.file(name)) - std::chrono::hours(1));
  }

  struct Start {
    std::vector<bool> fetch;
    int read = 0;
    std::string fullReason;
  };
  Start start(std::vector<FileListEntry>& entries, bool restarted = false) {
    Updater u(testutil::settings(), nullptr);
    u.options.checkIndex = indexOn;
    u.clock = testClock;
    EXPECT_TRUE(acquireCryptProvider(u));
    LocalCheck check(u, restarted);
    Start s;
    for (FileListEntry& e : entries) {
      e.localDigest.clear();
      s.fetch.push_back(check.check(e));
    }
    check.finish();
    releaseCryptProvider(u);
    s.read = check.read();
    s.fullReason = check.fullReason();
    return s;
  }
  std::string indexPath() const { return dir.file("data/update/verified.txt"); }

  testutil::TempDir dir;
  testutil::ScopedCurrentDir cwd{dir.path()};
  Updater hasher{testutil::settings(), nullptr};
  bool indexOn = true;
};

TEST_F(LocalCheckTest, MatchRules) {
  using Change = void (*)(const std::string& path);
  auto rewrite = [](const std::string& path) {  // same size, same time
    auto t = fs::last_write_time(path);
    testutil::writeFile(path, "jello");
    fs::last_write_time(path, t);
  };
  struct Case {
    const char* name;
    Change change;
    bool listChanged;
    int wantRead;
    bool wantFetch;
  } cases[] = {
      {"unchanged", [](const std::string&) {}, false, 0, false},
      // What the index trusts: this is only found by a full check.
      {"rewritten in place, same size and time", rewrite, false, 0, false},
      {"size changed", [](const std::string& p) { testutil::writeFile(p, "hello!"); }, false, 1, true},
      {"time changed",
       [](const std::string& p) { fs::last_write_time(p, fs::last_write_time(p) + std::chrono::seconds(1)); }, false,
       1, false},
      {"replaced by a rename, same size and time",
       [](const std::string& p) {
         testutil::writeFile(p + ".new", "jello");
         fs::last_write_time(p + ".new", fs::last_write_time(p));
         fs::rename(p + ".new", p);
       },
       false, 1, true},
      // Known to differ without a read; the recorded digest is a patch's base.
      {"list entry changed", [](const std::string&) {}, true, 0, true},
      // In use: left alone, as the ordinary road leaves it.
      {"list entry changed, file held", nullptr, true, 1, false},
      {"deleted", [](const std::string& p) { fs::remove(p); }, false, 0, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string name = "f" + std::to_string(++n) + ".pak";
    put(name, "hello");
    std::vector<FileListEntry> list{entry(name, "hello")};
    Start first = start(list);
    EXPECT_EQ(first.read, 1) << c.name;
    platform::File held;
    if (c.change)
      c.change(dir.file(name));
    else
      held = platform::File::openExclusiveRead(dir.file(name));
    if (c.listChanged) list[0].digest = md5("hellp");
    Start second = start(list);
    EXPECT_EQ(second.fullReason, "") << c.name;
    EXPECT_EQ(second.read, c.wantRead) << c.name;
    EXPECT_EQ(second.fetch[0], c.wantFetch) << c.name;
    if (c.listChanged && c.wantFetch) EXPECT_EQ(list[0].localDigest, md5("hello")) << c.name;
    // A file found different is never recorded as current.
    if (c.wantFetch) {
      EXPECT_EQ(start(list).read, c.wantRead) << c.name;
    }
  }
}

TEST_F(LocalCheckTest, FullChecksReadEverything) {
  put("a.pak", "hello");
  fs::create_directories(dir.file("data/textures"));
  put("data/textures/7.png", "icon");
  std::vector<FileListEntry> list{entry("a.pak", "hello"), entry("7.png", "icon")};
  list[1].directory = "data/textures/";
  EXPECT_EQ(start(list).fullReason, "no index yet");
  EXPECT_EQ(start(list).read, 0);
  // Another launcher build in place (a new file, not rewritten in place).
  testutil::writeFile(dir.file("TervalisOnline2D.exe.new"), "launcher 2");
  fs::rename(dir.file("TervalisOnline2D.exe.new"), dir.file("TervalisOnline2D.exe"));
  EXPECT_EQ(start(list).read, 2);
  EXPECT_EQ(start(list).read, 0);
  // Starts between full checks keep the time of the last one: a week after
  // it, not after the previous start, everything is read again.
  theTime += 4 * 86400;
  EXPECT_EQ(start(list).read, 0);
  theTime += 4 * 86400;
  Start due = start(list);
  EXPECT_EQ(due.read, 2);
  EXPECT_EQ(due.fullReason, "last full check 8 days ago");
  theTime += 6 * 86400;
  EXPECT_EQ(start(list).read, 0);
  theTime += 86400;
  EXPECT_EQ(start(list).read, 2);
}

TEST_F(LocalCheckTest, OffTouchesNoIndexAndTrustsNothing) {
  put("f.pak", "hello");
  std::vector<FileListEntry> list{entry("f.pak", "hello")};
  start(list);
  std::string written = testutil::readFile(indexPath());
  auto t = fs::last_write_time(dir.file("f.pak"));
  testutil::writeFile(dir.file("f.pak"), "jello");
  fs::last_write_time(dir.file("f.pak"), t);
  indexOn = false;
  EXPECT_TRUE(start(list).fetch[0]);
  EXPECT_EQ(testutil::readFile(indexPath()), written);
}

}  // namespace
}  // namespace tvl
