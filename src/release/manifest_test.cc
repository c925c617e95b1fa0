#include "release/manifest.h"

#include <gtest/gtest.h>

#include "base/text.h"

using namespace tvl;

namespace release {
namespace {

SecretKey newKey() {
  SecretKey k;
  EXPECT_TRUE(generateKey(&k));
  return k;
}

FileEntry entry(Origin origin, const std::string& name, uint64_t size, const std::string& content) {
  return {origin, name, size, sha256Of(content.data(), content.size())};
}

Manifest sample() {
  Manifest m;
  m.release = 1717000000;
  m.expires = 1719600000;
  // Deliberately out of order: the writer sorts.
  m.files = {entry(Origin::Update, "files.txt", 120, "list"), entry(Origin::Update, "data/a b/\xd0\x9f.pak", 7, "x"),
             entry(Origin::Icons, "clan_icons_list.txt", 40, "icons"), entry(Origin::Icons, "7.png", 0, ""),
             entry(Origin::Update, "TervalisOnline2D.exe", 2147483647, "exe")};
  return m;
}

const std::string kHash = std::string(64, 'a');

TEST(Manifest, WrittenThenVerifiedGivesTheSameReleaseSortedAndSearchable) {
  SecretKey key = newKey();
  std::string bytes, again, error;
  ASSERT_TRUE(writeManifest(sample(), key, &bytes, &error)) << error;
  ASSERT_TRUE(writeManifest(sample(), key, &again, &error));
  EXPECT_EQ(bytes, again);  // Ed25519 signatures are deterministic

  VerifyResult r = verifyManifest(bytes, key.publicKey());
  ASSERT_TRUE(r.accepted()) << r.detail;
  EXPECT_EQ(r.manifest.release, 1717000000u);
  EXPECT_EQ(r.manifest.expires, 1719600000);
  std::vector<std::string> order;
  for (const FileEntry& f : r.manifest.files) order.push_back(f.name);
  EXPECT_EQ(order, (std::vector<std::string>{"7.png", "clan_icons_list.txt", "TervalisOnline2D.exe",
                                             "data/a b/\xd0\x9f.pak", "files.txt"}));
  const FileEntry* exe = r.manifest.find(Origin::Update, "TervalisOnline2D.exe");
  ASSERT_NE(exe, nullptr);
  EXPECT_EQ(exe->size, 2147483647u);
  EXPECT_EQ(exe->sha256, sha256Of("exe", 3));
  EXPECT_NE(r.manifest.find(Origin::Icons, "7.png"), nullptr);
  EXPECT_EQ(r.manifest.find(Origin::Icons, "files.txt"), nullptr);  // origins are separate
  EXPECT_EQ(r.manifest.find(Origin::Update, "FILES.TXT"), nullptr);
  EXPECT_EQ(r.manifest.find(Origin::Update, "files.tx"), nullptr);
}

TEST(Manifest, WriterRefusesWhatNoReaderWouldTake) {
  struct Case {
    const char* what;
    void (*change)(Manifest&);
  };
  const Case cases[] = {
      {"release 0", [](Manifest& m) { m.release = 0; }},
      {"expiry 0", [](Manifest& m) { m.expires = 0; }},
      {"empty name", [](Manifest& m) { m.files[0].name = ""; }},
      {"TAB in name", [](Manifest& m) { m.files[0].name = "a\tb"; }},
      {"LF in name", [](Manifest& m) { m.files[0].name = "a\nb"; }},
      {"long name", [](Manifest& m) { m.files[0].name = std::string(kMaxNameSize + 1, 'n'); }},
      {"twice", [](Manifest& m) { m.files.push_back(m.files[2]); }},
      {"too large",
       [](Manifest& m) {
         for (int i = 0; i < 70000; ++i)
           m.files.push_back(entry(Origin::Update, std::string(200, 'f') + std::to_string(i), 1, ""));
       }},
  };
  SecretKey key = newKey();
  for (const Case& c : cases) {
    Manifest m = sample();
    c.change(m);
    std::string out, error;
    EXPECT_FALSE(writeManifest(m, key, &out, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

// Every way a manifest can be wrong, each refused for the right reason.
TEST(Manifest, ReaderRefusesEachAlteration) {
  SecretKey key = newKey(), other = newKey();
  const std::string body = formatManifestBody(sample());
  const std::string good = signManifestBody(body, key);
  ASSERT_TRUE(verifyManifest(good, key.publicKey()).accepted());
  const std::string head = "tervalis-release 1\nrelease 5\nexpires 99\n";
  const std::string line = "update\t1\t" + kHash + "\tx\n";
  auto replaced = [](std::string s, const std::string& from, const std::string& to) {
    return s.replace(s.find(from), from.size(), to);
  };
  std::string sigHex = good.substr(8 + 64 + 1, 128);

  struct Case {
    std::string what;
    std::string bytes;
    Verdict verdict;
  };
  std::vector<Case> cases = {
      {"oversize", good + std::string(kMaxManifestSize, '\n'), Verdict::TooLarge},
      {"empty", "", Verdict::Unsigned},
      {"body alone", body, Verdict::Unsigned},
      {"nothing after the signature line", good.substr(0, 203), Verdict::BadSignature},
      {"upper-case signature", replaced(good, sigHex, std::string(128, 'A')), Verdict::Unsigned},
      {"signature cut short", replaced(good, sigHex, sigHex.substr(2)), Verdict::Unsigned},
      {"CR LF after the signature", replaced(good, sigHex + "\n", sigHex + "\r\n"), Verdict::Unsigned},
      {"signed by another key", signManifestBody(body, other), Verdict::WrongKey},
      {"another key's name on our signature",
       replaced(good, publicKeyHex(key.publicKey()), publicKeyHex(other.publicKey())), Verdict::WrongKey},
      {"our key's name on another's signature",
       replaced(signManifestBody(body, other), publicKeyHex(other.publicKey()), publicKeyHex(key.publicKey())),
       Verdict::BadSignature},
      {"size altered", replaced(good, "\t120\t", "\t121\t"), Verdict::BadSignature},
      {"name altered", replaced(good, "7.png", "8.png"), Verdict::BadSignature},
      {"signature altered", replaced(good, sigHex, std::string(128, '0')), Verdict::BadSignature},
      {"trailing junk", good + "x", Verdict::BadSignature},
      {"line removed",
       good.substr(0, good.find("icons\t0\t")) + good.substr(good.find("\n", good.find("icons\t0\t")) + 1),
       Verdict::BadSignature},
      // Validly signed but not a manifest this reader takes.
      {"format 2", signManifestBody("tervalis-release 2\nwhatever\n", key), Verdict::UnknownFormat},
      {"format 01", signManifestBody("tervalis-release 01\n", key), Verdict::Malformed},
      {"no format line", signManifestBody("release 5\nexpires 99\n", key), Verdict::Malformed},
      {"empty body", signManifestBody("", key), Verdict::Malformed},
      {"no release", signManifestBody("tervalis-release 1\nexpires 99\n", key), Verdict::Malformed},
      {"release 0", signManifestBody(replaced(head, "release 5", "release 0"), key), Verdict::Malformed},
      {"release 05", signManifestBody(replaced(head, "release 5", "release 05"), key), Verdict::Malformed},
      {"release +5", signManifestBody(replaced(head, "release 5", "release +5"), key), Verdict::Malformed},
      {"release past int64", signManifestBody(replaced(head, "release 5", "release 9223372036854775808"), key),
       Verdict::Malformed},
      {"negative expiry", signManifestBody(replaced(head, "expires 99", "expires -99"), key), Verdict::Malformed},
      {"expiry with spaces", signManifestBody(replaced(head, "expires 99", "expires  99"), key), Verdict::Malformed},
      {"no expiry", signManifestBody("tervalis-release 1\nrelease 5\n", key), Verdict::Malformed},
      {"last line unended", signManifestBody(head + line.substr(0, line.size() - 1), key), Verdict::Malformed},
      {"header unended", signManifestBody("tervalis-release 1\nrelease 5\nexpires 99", key), Verdict::Malformed},
      {"empty line", signManifestBody(head + line + "\n", key), Verdict::Malformed},
      {"CR LF", signManifestBody(replaced(head, "\n", "\r\n") + line, key), Verdict::Malformed},
      {"CR at end of name", signManifestBody(head + replaced(line, "\tx\n", "\tx\r\n"), key), Verdict::Malformed},
      {"three fields", signManifestBody(head + "update\t1\t" + kHash + "\n", key), Verdict::Malformed},
      {"unknown origin", signManifestBody(head + replaced(line, "update", "patch"), key), Verdict::Malformed},
      {"bad size", signManifestBody(head + replaced(line, "\t1\t", "\t1x\t"), key), Verdict::Malformed},
      {"size 01", signManifestBody(head + replaced(line, "\t1\t", "\t01\t"), key), Verdict::Malformed},
      {"upper-case digest", signManifestBody(head + replaced(line, kHash, std::string(64, 'A')), key),
       Verdict::Malformed},
      {"short digest", signManifestBody(head + replaced(line, kHash, kHash.substr(1)), key), Verdict::Malformed},
      {"empty name", signManifestBody(head + replaced(line, "\tx\n", "\t\n"), key), Verdict::Malformed},
      {"TAB in name", signManifestBody(head + replaced(line, "\tx\n", "\tx\ty\n"), key), Verdict::Malformed},
      {"long name",
       signManifestBody(head + replaced(line, "\tx\n", "\t" + std::string(kMaxNameSize + 1, 'x') + "\n"), key),
       Verdict::Malformed},
      {"duplicate", signManifestBody(head + line + line, key), Verdict::Malformed},
      {"out of order", signManifestBody(head + replaced(line, "\tx\n", "\ty\n") + line, key), Verdict::Malformed},
      {"update before icons", signManifestBody(head + line + replaced(line, "update", "icons"), key),
       Verdict::Malformed},
  };
  for (const Case& c : cases) {
    VerifyResult r = verifyManifest(c.bytes, key.publicKey());
    EXPECT_EQ(verdictName(r.verdict), std::string(verdictName(c.verdict))) << c.what << ": " << r.detail;
    EXPECT_FALSE(r.detail.empty()) << c.what;
    EXPECT_TRUE(r.manifest.files.empty() && r.manifest.release == 0) << c.what;
  }
  // The boundaries of the same cases, accepted.
  EXPECT_TRUE(verifyManifest(signManifestBody(head, key), key.publicKey()).accepted());
  EXPECT_TRUE(verifyManifest(signManifestBody(head + line + replaced(line, "\tx\n", "\ty\n"), key), key.publicKey())
                  .accepted());
  EXPECT_TRUE(verifyManifest(signManifestBody(replaced(head, "release 5", "release 9223372036854775807") +
                                                  replaced(line, "\tx\n", "\t" + std::string(kMaxNameSize, 'x') + "\n"),
                                              key),
                             key.publicKey())
                  .accepted());
}

TEST(Manifest, RollbackAndExpiry) {
  struct Case {
    uint64_t release, accepted;
    int64_t expires, now;
    Verdict verdict;
  };
  const Case cases[] = {
      {10, 0, 100, 50, Verdict::Accepted},   // first release this installation sees
      {10, 10, 100, 50, Verdict::Accepted},  // the same release again
      {11, 10, 100, 50, Verdict::Accepted},
      {9, 10, 100, 50, Verdict::Rollback},
      {10, 10, 100, 99, Verdict::Accepted},
      {10, 10, 100, 100, Verdict::Expired},  // expiry is the first refused second
      {10, 10, 100, 5000, Verdict::Expired},
      {9, 10, 100, 5000, Verdict::Rollback},
  };
  SecretKey key = newKey();
  for (const Case& c : cases) {
    Manifest m;
    m.release = c.release;
    m.expires = c.expires;
    EXPECT_EQ(checkFreshness(m, c.accepted, c.now), c.verdict) << c.release << " " << c.accepted << " " << c.now;
    std::string bytes, error;
    ASSERT_TRUE(writeManifest(m, key, &bytes, &error));
    VerifyResult r = acceptManifest(bytes, {key.publicKey()}, c.accepted, c.now);
    EXPECT_EQ(r.verdict, c.verdict);
    EXPECT_EQ(r.detail.empty(), c.verdict == Verdict::Accepted) << r.detail;
  }
  // Freshness is only looked at once the signature holds.
  EXPECT_EQ(acceptManifest("", {key.publicKey()}, 0, 0).verdict, Verdict::Unsigned);
}

TEST(Manifest, WhileAKeyIsReplacedTheLauncherKnowsBoth) {
  SecretKey oldKey = newKey(), newer = newKey(), stranger = newKey();
  std::vector<PublicKey> keys;
  ASSERT_TRUE(parsePublicKeyList(publicKeyHex(oldKey.publicKey()) + "," + publicKeyHex(newer.publicKey()), &keys));
  ASSERT_EQ(keys.size(), 2u);
  const std::string body = formatManifestBody(sample());
  EXPECT_TRUE(verifyManifest(signManifestBody(body, oldKey), keys).accepted());
  EXPECT_TRUE(verifyManifest(signManifestBody(body, newer), keys).accepted());
  EXPECT_EQ(verifyManifest(signManifestBody(body, stranger), keys).verdict, Verdict::WrongKey);

  ASSERT_TRUE(parsePublicKeyList("", &keys));
  EXPECT_TRUE(keys.empty());
  const std::string hex = publicKeyHex(oldKey.publicKey());
  for (const std::string& bad : {hex + ",", "," + hex, hex + ",," + hex, hex + " ", hex.substr(1)})
    EXPECT_FALSE(parsePublicKeyList(bad, &keys)) << bad;
}

TEST(Manifest, PeekReadsTheNumberOfAnyWellFormedManifest) {
  SecretKey key = newKey();
  std::string bytes, error;
  ASSERT_TRUE(writeManifest(sample(), key, &bytes, &error));
  EXPECT_EQ(peekReleaseNumber(bytes), 1717000000u);
  EXPECT_EQ(peekReleaseNumber(bytes.substr(0, bytes.size() - 1)), 0u);
  EXPECT_EQ(peekReleaseNumber(formatManifestBody(sample())), 0u);
}

}  // namespace
}  // namespace release
