// The packaging tool as a user runs it, round-tripped through the stub's own archive code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/archive/stub_features.h"
#include "sfxstub/verify/key_block.h"
#include "sfxstub/verify/signed_file.h"
#include "tests/hostile_packages.h"
#include "tests/signing_fixture.h"
#include "tests/test_support.h"
#include "tools/sfxpack/build_checks.h"
#include "tools/sfxpack/file_io.h"
#include "tools/sfxpack/key_fingerprint.h"
#include "tools/sfxpack/prefix_block.h"
#include "tools/sfxpack/sfxpack_commands.h"
#include "tools/sfxpack/sfxpack_keys.h"

#if !defined(_WIN32)
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace sfx {
namespace {

namespace fs = std::filesystem;

using test::Bytes;

int RunTool(std::vector<std::string> args) {
  const CommandSpec* command = FindCommand(args[0]);
  if (command == nullptr) return -1;
  args.erase(args.begin());
  return RunCommand(*command, args);
}

// A stand-in for the stub executable: some image bytes around an empty key block, and the feature
// marker of a stub that inflates listed files unless withFeatures is false (an older stub).
Bytes FakeStub(bool withFeatures = true) {
  Bytes stub = test::BytesOf("MZ fake stub image ");
  if (withFeatures) {
    stub.insert(stub.end(), kStubFeaturesMarker, kStubFeaturesMarker + kStubFeaturesMarkerSize);
    stub.insert(stub.end(), {kStubFeatureDeflatedFiles, 0, 0, 0});
  }
  Bytes filler = test::NoiseBytes(3000, 77);
  stub.insert(stub.end(), filler.begin(), filler.end());
  uint8_t marker[kKeyBlockMarkerSize];
  KeyBlockMarker(marker);
  stub.insert(stub.end(), marker, marker + kKeyBlockMarkerSize);
  stub.resize(stub.size() + sizeof(DsaPublicKey), 0);
  stub.insert(stub.end(), filler.begin(), filler.begin() + 500);
  return stub;
}

// A stand-in for a setup program: the DOS header, the "PE" signature where it points and the
// machine, then filler that compresses.
Bytes FakeProgram(uint16_t machine = 0x8664) {
  Bytes program(0x40, 0);
  program[0] = 'M';
  program[1] = 'Z';
  program[0x3C] = 0x40;
  Bytes signature = {'P', 'E', 0, 0, static_cast<uint8_t>(machine), static_cast<uint8_t>(machine >> 8)};
  program.insert(program.end(), signature.begin(), signature.end());
  Bytes filler = test::NoiseBytes(20000, 1);
  for (size_t i = 0; i < filler.size(); i += 2) filler[i] = 'x';
  program.insert(program.end(), filler.begin(), filler.end());
  return program;
}

class SfxpackTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    keys = new test::ScratchDir;
    ASSERT_EQ(RunTool({"keygen", "--out", keys->File("k")}), kExitOk);
    ASSERT_EQ(RunTool({"keygen", "--out", keys->File("other")}), kExitOk);
  }
  static void TearDownTestSuite() {
    delete keys;
    keys = nullptr;
  }

  void SetUp() override {
    test::WriteFileBytes(dir.File("stub.exe"), FakeStub());
    setup = FakeProgram();
    test::WriteFileBytes(dir.File("setup.exe"), setup);
    test::WriteFileBytes(dir.File("a.txt"), test::BytesOf("alpha"));
    test::WriteFileBytes(dir.File("b.bin"), test::NoiseBytes(4096, 2));
    std::string payload = dir.File("payload");
    std::string error;
    ASSERT_TRUE(MakeDirectory(payload, &error)) << error;
    test::WriteFileBytes(dir.File("payload/c.dat"), test::NoiseBytes(10, 3));
    test::WriteFileBytes(dir.File("payload/d.dat"), {});
  }

  std::vector<std::string> BuildArgs(const std::string& out, const std::string& record = "binary") {
    return {"build", "--stub", dir.File("stub.exe"), "--key", keys->File("k.key"), "--setup",
            dir.File("setup.exe"), "--command", "/q %CMDLINE%", "--file", "first.txt=" + dir.File("a.txt"),
            "--file", "second.bin=" + dir.File("b.bin"), "--dir", dir.File("payload"), "--record", record,
            "-o", out};
  }

  DsaPublicKey PublicKey(const std::string& name) {
    DsaPublicKey key;
    std::string error;
    EXPECT_TRUE(LoadPublicKeyFile(keys->File(name), &key, &error)) << error;
    return key;
  }

  static test::ScratchDir* keys;
  test::ScratchDir dir;
  Bytes setup;
};

test::ScratchDir* SfxpackTest::keys = nullptr;

TEST_F(SfxpackTest, EveryRecordKindRoundTripsThroughTheArchiveCode) {
  const std::pair<const char*, uint32_t> kinds[] = {
      {"binary", kBinarySignature}, {"text", kTextSignature}, {"digest", kTextDigest}};
  for (const auto& [name, kind] : kinds) {
    SCOPED_TRACE(name);
    std::string package = dir.File(std::string("pkg-") + name + ".exe");
    ASSERT_EQ(RunTool(BuildArgs(package, name)), kExitOk);
    uint32_t found = 99;
    ASSERT_EQ(FindSignatureRecord(package.c_str(), nullptr, &found, nullptr), kOk);
    EXPECT_EQ(found, kind);
    if (kind != kBinarySignature) {
      // The stub opens binary-signed packages only: a digest record proves nothing, and a text
      // signature's digest skips every byte outside 0x20..0x7F.
      EXPECT_EQ(RunTool({"verify", package}), kExitFailed);
      EXPECT_EQ(RunTool({"extract", package, dir.File(std::string("refused-") + name)}), kExitFailed);
      continue;
    }
    EXPECT_EQ(RunTool({"verify", package}), kExitOk);

    SfxArchive archive(PublicKey("k.pub"));
    ASSERT_EQ(archive.Open(package.c_str()), kOk);
    EXPECT_EQ(archive.commandTemplate, "/q %CMDLINE%");
    ASSERT_EQ(archive.entries.size(), 4u);
    const char* names[] = {"first.txt", "second.bin", "c.dat", "d.dat"};
    const char* sources[] = {"a.txt", "b.bin", "payload/c.dat", "payload/d.dat"};
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(archive.entries[i].name, names[i]);
      EXPECT_EQ(archive.entries[i].time, static_cast<uint32_t>(test::FileModificationTime(dir.File(sources[i]))));
    }

    std::string out = dir.File(std::string("out-") + name);
    ASSERT_EQ(RunTool({"extract", package, out}), kExitOk);
    EXPECT_EQ(test::ReadFileBytes(out + "/setup.ovr"), setup);
    for (size_t i = 0; i < 4; ++i) {
      std::string extracted = out + "/" + names[i];
      EXPECT_EQ(test::ReadFileBytes(extracted), test::ReadFileBytes(dir.File(sources[i]))) << names[i];
      EXPECT_EQ(test::FileModificationTime(extracted), test::FileModificationTime(dir.File(sources[i])));
    }
  }
}

TEST_F(SfxpackTest, SameInputsGiveByteIdenticalPackages) {
  test::SetEnvironment("SOURCE_DATE_EPOCH", "1000000000");
  ASSERT_EQ(RunTool(BuildArgs(dir.File("one.exe"))), kExitOk);
  ASSERT_EQ(RunTool(BuildArgs(dir.File("two.exe"))), kExitOk);
  test::SetEnvironment("SOURCE_DATE_EPOCH", nullptr);
  Bytes one = test::ReadFileBytes(dir.File("one.exe"));
  EXPECT_EQ(one, test::ReadFileBytes(dir.File("two.exe")));
  SfxArchive archive(PublicKey("k.pub"));
  ASSERT_EQ(archive.Open(dir.File("one.exe").c_str()), kOk);
  for (const auto& entry : archive.entries) EXPECT_EQ(entry.time, 1000000000u) << "clamped to the epoch";
}

// Right after the stub and its record lie the 32 bytes of the prefix block, then the first blob;
// nothing refers to the block, so the archive code (the stub's) reads the package as before.
TEST_F(SfxpackTest, PrefixBlockLiesBetweenTheStubAndTheFirstBlob) {
  const std::string package = dir.File("pkg.exe");
  ASSERT_EQ(RunTool(BuildArgs(package)), kExitOk);
  const size_t stubEnd = FakeStub().size() + kBinarySignatureRecordSize;
  SfxArchive archive(PublicKey("k.pub"));
  ASSERT_EQ(archive.Open(package.c_str()), kOk);
  EXPECT_EQ(archive.mainProgramOffset, stubEnd + kPrefixBlockSize);
  const std::string out = dir.File("out");
  ASSERT_EQ(RunTool({"extract", package, out}), kExitOk);
  EXPECT_EQ(test::ReadFileBytes(out + "/setup.ovr"), setup);

  // The block is the one the key and the inputs give.
  SigningKey signer;
  std::string error;
  ASSERT_TRUE(LoadSigningKey(keys->File("k.key"), &signer, &error)) << error;
  Bytes bytes = test::ReadFileBytes(package);
  PackageSpec spec;
  spec.stub.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(stubEnd));
  spec.mainProgram = setup;
  spec.commandTemplate = "/q %CMDLINE%";
  const char* sources[] = {"a.txt", "b.bin", "payload/c.dat", "payload/d.dat"};
  for (size_t i = 0; i < archive.entries.size(); ++i) {
    spec.files.push_back({test::Str(archive.entries[i].name), test::ReadFileBytes(dir.File(sources[i])),
                          archive.entries[i].time});
  }
  ByteVector block;
  ASSERT_TRUE(MakePrefixBlock(signer, spec, &block, &error)) << error;
  EXPECT_EQ(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(stubEnd),
                  bytes.begin() + static_cast<std::ptrdiff_t>(stubEnd + kPrefixBlockSize)),
            block);
}

// The block is the same for the same key and inputs, and changes with the key and with any input.
TEST_F(SfxpackTest, PrefixBlockChangesWithTheKeyAndWithEveryInput) {
  SigningKey signer, other;
  std::string error;
  ASSERT_TRUE(LoadSigningKey(keys->File("k.key"), &signer, &error)) << error;
  ASSERT_TRUE(LoadSigningKey(keys->File("other.key"), &other, &error)) << error;
  PackageSpec base;
  base.stub = FakeStub();
  base.mainProgram = setup;
  base.commandTemplate = "/q";
  base.files = {{"a.txt", test::BytesOf("alpha"), 100}, {"b.txt", test::BytesOf("beta"), 200}};
  auto blockOf = [&](const SigningKey& key, const PackageSpec& spec) {
    ByteVector block;
    EXPECT_TRUE(MakePrefixBlock(key, spec, &block, &error)) << error;
    EXPECT_EQ(block.size(), kPrefixBlockSize);
    return block;
  };
  const ByteVector reference = blockOf(signer, base);
  EXPECT_EQ(blockOf(signer, base), reference);
  EXPECT_NE(blockOf(other, base), reference) << "another key";
  struct Case {
    const char* change;
    std::function<void(PackageSpec*)> apply;
  };
  const Case cases[] = {
      {"a stub byte", [](PackageSpec* s) { s->stub[100] ^= 1; }},
      {"a main program byte", [](PackageSpec* s) { s->mainProgram[0] ^= 1; }},
      {"the template", [](PackageSpec* s) { s->commandTemplate += " "; }},
      {"a file's name", [](PackageSpec* s) { s->files[0].name = "c.txt"; }},
      {"a file's bytes", [](PackageSpec* s) { s->files[1].bytes.back() ^= 1; }},
      {"a file's time", [](PackageSpec* s) { s->files[1].time += 1; }},
      {"the bytes moved between two files",
       [](PackageSpec* s) {
         s->files[0].bytes = test::BytesOf("alphab");
         s->files[1].bytes = test::BytesOf("eta");
       }},
      {"one more file", [](PackageSpec* s) { s->files.push_back({"c.txt", {}, 0}); }},
  };
  for (const Case& c : cases) {
    PackageSpec changed = base;
    c.apply(&changed);
    EXPECT_NE(blockOf(signer, changed), reference) << c.change;
  }
}

TEST_F(SfxpackTest, BuildStampsAnEmptyStubAndRefusesAnotherKeyUnlessRestamped) {
  std::string stamped = dir.File("stamped.exe");
  ASSERT_EQ(RunTool({"stamp-key", "--stub", dir.File("stub.exe"), "--pub", keys->File("other.pub"), "-o", stamped}),
            kExitOk);
  std::vector<std::string> args = BuildArgs(dir.File("pkg.exe"));
  args[2] = stamped;
  EXPECT_EQ(RunTool(args), kExitFailed);
  EXPECT_FALSE(test::FileExists(dir.File("pkg.exe")));
  args.insert(args.end() - 2, "--restamp");
  ASSERT_EQ(RunTool(args), kExitOk);
  EXPECT_EQ(RunTool({"verify", dir.File("pkg.exe")}), kExitOk) << "verified with the key stamped in the file";
  EXPECT_EQ(RunTool({"verify", "--pub", keys->File("other.pub"), dir.File("pkg.exe")}), kExitFailed);
}

TEST_F(SfxpackTest, RefusesWhatTheStubCouldNotUse) {
  test::WriteFileBytes(dir.File("nokey.exe"), test::NoiseBytes(5000, 9));
  std::vector<std::string> noBlock = BuildArgs(dir.File("x.exe"));
  noBlock[2] = dir.File("nokey.exe");
  EXPECT_EQ(RunTool(noBlock), kExitFailed);
  EXPECT_EQ(RunTool({"stamp-key", "--stub", dir.File("nokey.exe"), "--pub", keys->File("k.pub"), "-o", dir.File("y")}),
            kExitFailed);
  EXPECT_FALSE(test::FileExists(dir.File("x.exe")));
}

// Every build the stub could not run, or that would destroy an input: exit code 1, one line naming
// the option and the reason, nothing written, every input as it was.
TEST_F(SfxpackTest, BuildRefusalsNameTheOptionAndWriteNothing) {
  test::WriteFileBytes(dir.File("empty.exe"), {});
  test::WriteFileBytes(dir.File("script.cmd"), test::BytesOf("@echo off\r\nsetup.exe /S\r\n"));
  Bytes noPe = FakeProgram();
  noPe[0x41] = 'X';
  test::WriteFileBytes(dir.File("nope.exe"), noPe);
  test::WriteFileBytes(dir.File("arm32.exe"), FakeProgram(0x01C4));
  ASSERT_EQ(RunTool(BuildArgs(dir.File("package.exe"))), kExitOk);
  Bytes unsignedPackage = test::ReadFileBytes(dir.File("package.exe"));
  unsignedPackage.resize(unsignedPackage.size() - 48);  // the trailer is now last
  test::WriteFileBytes(dir.File("unsigned.exe"), unsignedPackage);
  const std::string out = dir.File("x.exe");
  struct Case {
    std::vector<std::string> add;  // to the good arguments, before -o
    std::string message;
    // Replacements when not empty.
    std::string setup = "";
    std::string stub = "";
    std::string out = "";
  };
  const Case cases[] = {
      {{"--file", "sub/x.txt=" + dir.File("a.txt")}, "--file sub/x.txt=" + dir.File("a.txt") + ": the name 'sub/x.txt' holds a separator"},
      {{"--file", "a\\x.txt=" + dir.File("a.txt")}, "holds a separator"},
      {{"--file", "FIRST.TXT=" + dir.File("b.bin")}, "the names 'first.txt' and 'FIRST.TXT' are one file on Windows"},
      {{"--file", "first.txt=" + dir.File("b.bin")}, "are one file on Windows"},
      {{"--file", "C.dat=" + dir.File("b.bin")}, "and --dir " + dir.File("payload") + ": the names 'C.dat' and 'c.dat'"},
      {{"--file", "setup.ovr=" + dir.File("a.txt")}, "is taken by the stub's own files"},
      {{"--file", "Kelvo.Setup=" + dir.File("a.txt")}, "is taken by the stub's own files"},
      {{"--file", "SETUP~1.OVR=" + dir.File("a.txt")}, "is taken by the stub's own files"},
      {{"--file", "ABCDEF~1.TXT=" + dir.File("a.txt")}, "the name 'ABCDEF~1.TXT' has the shape of a short 8.3 name"},
      {{"--file", "k.txt=" + keys->File("k.key")}, "--file k.txt=" + keys->File("k.key") + ": " + keys->File("k.key") +
                                                       " is the private key (--key " + keys->File("k.key") + ")"},
      {{}, "--setup " + keys->File("./k.key") + ": " + keys->File("./k.key") + " is the private key", keys->File("./k.key")},
      {{"--file", "NUL .txt=" + dir.File("a.txt")}, "is a device on Windows"},
      {{"--file", "com\xc2\xb9.log=" + dir.File("a.txt")}, "is a device on Windows"},
      {{"--file", "..\\evil.dll=" + dir.File("a.txt")}, "holds a separator"},
      {{"--file", "a:b=" + dir.File("a.txt")}, "does not allow"},
      {{"--file", "x.=" + dir.File("a.txt")}, "ends in a dot or a blank"},
      {{"--file", "\xff.txt=" + dir.File("a.txt")}, "is not valid UTF-8"},
      {{}, "--setup " + dir.File("empty.exe") + " is empty", dir.File("empty.exe")},
      {{}, "is not a Windows program (no \"MZ\" header)", dir.File("script.cmd")},
      {{}, "no \"PE\" signature", dir.File("nope.exe")},
      {{}, "not i386, amd64 or arm64", dir.File("arm32.exe")},
      {{}, "--stub " + dir.File("package.exe") + ": this is a package, not a stub", "", dir.File("package.exe")},
      {{}, "this is a package, not a stub", "", dir.File("unsigned.exe")},
      {{}, "-o " + keys->File("k.key") + " is the same file as --key", "", "", keys->File("k.key")},
      {{}, "is the same file as --setup", "", "", dir.File("payload/../setup.exe")},
      {{}, "is the same file as --stub", "", "", dir.path() + "/./stub.exe"},
      {{}, "is the same file as --file first.txt=", "", "", dir.File("a.txt")},
      {{}, "is the same file as --dir", "", "", dir.File("payload/c.dat")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> args = BuildArgs(c.out.empty() ? out : c.out);
    args.insert(args.end() - 2, c.add.begin(), c.add.end());
    if (!c.setup.empty()) args[6] = c.setup;
    if (!c.stub.empty()) args[2] = c.stub;
    const Bytes keyBefore = test::ReadFileBytes(keys->File("k.key"));
    const Bytes target = c.out.empty() ? Bytes() : test::ReadFileBytes(c.out);
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunTool(args), kExitFailed);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    EXPECT_FALSE(test::FileExists(out));
    if (!c.out.empty()) {
      EXPECT_EQ(test::ReadFileBytes(c.out), target);
    }
    EXPECT_EQ(test::ReadFileBytes(keys->File("k.key")), keyBefore);
  }
}

TEST_F(SfxpackTest, InputsTooLargeAreRefusedBeforeAnyIsRead) {
#if defined(_WIN32)
  GTEST_SKIP() << "sparse files are made on the host";
#endif
  // Sparse: 2.1 GB that take no room and, unread, no memory.
  const std::string large = dir.File("large.bin");
  ASSERT_EQ(std::system(("truncate -s 2200000000 '" + large + "'").c_str()), 0);
  std::vector<std::string> args = BuildArgs(dir.File("x.exe"));
  args.insert(args.end() - 2, {"--file", "large.bin=" + large});
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunTool(args), kExitFailed);
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("the inputs add up to 22000"), std::string::npos) << printed;
  EXPECT_FALSE(test::FileExists(dir.File("x.exe")));
}

TEST_F(SfxpackTest, TemplateWarningsLeaveTheBuildToGoOn) {
  struct Case {
    std::string command;
    std::vector<std::string> warnings;  // each a part of one line
  };
  const Case cases[] = {
      {"/q %CMDLINE% /d \"%TMPPATH%\" /s \"%SRCPATH%\"", {}},
      {"100% done, 50%", {}},
      {"/x %FOO% /y %srcpath%", {"%FOO% is not a placeholder", "%srcpath% is not a placeholder"}},
      {"%%TMPPATH%%", {}},
      // The run directory is 66 bytes, the program's path 78; the suffix /srcpath "C:" 14. The stub
      // starts command lines of up to 32,766 characters.
      {"/x " + std::string(32668, 'y'), {}},
      {"/x " + std::string(32669, 'y'), {"would be at least 32767 bytes"}},
      {std::string(500, 'z') + " %TMPPATH%", {}},  // far over the old 259
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    std::vector<std::string> args = BuildArgs(dir.File("w.exe"));
    args[8] = c.command;
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunTool(args), kExitOk);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(static_cast<size_t>(std::count(printed.begin(), printed.end(), '\n')), c.warnings.size()) << printed;
    for (const std::string& warning : c.warnings) EXPECT_NE(printed.find(warning), std::string::npos) << printed;
  }
}

TEST_F(SfxpackTest, KeygenNeverReplacesAKeyUnlessForced) {
  const std::string prefix = dir.File("mykey");
  ASSERT_EQ(RunTool({"keygen", "--out", prefix}), kExitOk);
  const Bytes key = test::ReadFileBytes(prefix + ".key");
  const Bytes pub = test::ReadFileBytes(prefix + ".pub");
  EXPECT_EQ(RunTool({"keygen", "--out", prefix}), kExitFailed);
  EXPECT_EQ(test::ReadFileBytes(prefix + ".key"), key);
  EXPECT_EQ(test::ReadFileBytes(prefix + ".pub"), pub);
  std::remove((prefix + ".key").c_str());
  EXPECT_EQ(RunTool({"keygen", "--out", prefix}), kExitFailed) << "the public half alone is kept too";
  EXPECT_EQ(test::ReadFileBytes(prefix + ".pub"), pub);
  ASSERT_EQ(RunTool({"keygen", "--out", prefix, "--force"}), kExitOk);
  EXPECT_NE(test::ReadFileBytes(prefix + ".pub"), pub);
}

struct ToolRun {
  int status;
  std::string out, err;
};

ToolRun RunCaptured(const std::vector<std::string>& args) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  int status = RunTool(args);
  std::string out = ::testing::internal::GetCapturedStdout();
  return {status, out, ::testing::internal::GetCapturedStderr()};
}

TEST_F(SfxpackTest, CommandLineMistakesExitTwoAndNameTheOption) {
  std::string pkg = dir.File("pkg.exe");
  ASSERT_EQ(RunTool(BuildArgs(pkg)), kExitOk);
  const struct {
    std::vector<std::string> args;
    const char* named;
  } cases[] = {
      {{"build", "--bogus"}, "'--bogus'"},
      {{"keygen"}, "--out"},
      {{"build", "--stub", dir.File("stub.exe"), "--setup", "s", "-o", "x"}, "--key"},
      {{"build", "--stub", dir.File("stub.exe"), "--key", "k", "-o", "x"}, "--setup"},
      {{"stamp-key", "--stub", dir.File("stub.exe"), "--pub", "p"}, "--out"},
      {{"build", "--record", "fancy", "--stub", "a", "--key", "b", "--setup", "c", "-o", "d"}, "--record"},
      {{"build", "--stub", "a", "--key", "b", "--setup", "c", "--file", "noname", "-o", "d"}, "--file"},
      {{"build", "--stub", "a", "--key", "b", "--setup", "c", "--file", "=a.txt", "-o", "d"}, "--file takes NAME=PATH"},
      {{"build", "--stub", "a", "--key", "b", "--setup", "c", "-o", "-"}, "--out -"},
      {{"stamp-key", "--stub", "-", "--pub", "p", "-o", "x"}, "--stub -"},
      {{"verify", "--fingerprint", "SHA256:nope", pkg}, "--fingerprint"},
      {{"verify", "--fingerprint", "abc", pkg}, "--fingerprint"},
      {{"verify"}, "argument"},
      {{"verify", "-"}, "'-'"},
      {{"extract", "only-one"}, "argument"},
      {{"list", "--json=1", pkg}, "--json"},
  };
  for (const auto& c : cases) {
    ToolRun run = RunCaptured(c.args);
    EXPECT_EQ(run.status, kExitUsage) << c.args[0] << " " << c.named;
    EXPECT_EQ(run.err.rfind("sfxpack: " + c.args[0] + ": ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
  }
  EXPECT_FALSE(test::FileExists("-"));
  EXPECT_FALSE(test::FileExists("d"));
}

std::string FingerprintOf(const DsaPublicKey& key) {
  KeyFingerprint fingerprint;
  std::string error;
  EXPECT_TRUE(KeyFingerprint::Of(key, &fingerprint, &error)) << error;
  return fingerprint.Text();
}

// A package an attacker signed with their own key on a fresh stub verifies against the key stamped
// in it; only a fingerprint or --pub says whose it is.
TEST_F(SfxpackTest, StampedKeyProvesIntegrityOnlyAndFingerprintsPinTheSigner) {
  std::string pkg = dir.File("pkg.exe");
  std::vector<std::string> args = BuildArgs(pkg);
  args[4] = keys->File("other.key");
  ASSERT_EQ(RunTool(args), kExitOk);
  std::string mine = FingerprintOf(PublicKey("k.pub")), theirs = FingerprintOf(PublicKey("other.pub"));
  KeyFingerprint parsed;
  ASSERT_TRUE(KeyFingerprint::Parse(mine, &parsed));

  ToolRun run = RunCaptured({"verify", pkg});
  EXPECT_EQ(run.status, kExitOk);
  EXPECT_NE(run.out.find(theirs), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("sfxpack: warning: "), std::string::npos);
  EXPECT_NE(run.err.find("not who signed it"), std::string::npos) << run.err;
  EXPECT_EQ(RunCaptured({"verify", "-q", pkg}).err, "") << "-q silences warnings";

  run = RunCaptured({"verify", "--fingerprint", mine, pkg});
  EXPECT_EQ(run.status, kExitFailed);
  EXPECT_NE(run.err.find(theirs), std::string::npos) << run.err;
  for (std::string list : {"list", "extract"}) {
    std::vector<std::string> call = {list, "--fingerprint", parsed.Hex(), pkg};
    if (list == "extract") call.push_back(dir.File("out"));
    EXPECT_EQ(RunCaptured(call).status, kExitFailed) << list;
  }
  EXPECT_FALSE(test::FileExists(dir.File("out")));

  run = RunCaptured({"verify", "--fingerprint", mine, "--fingerprint", theirs, pkg});
  EXPECT_EQ(run.status, kExitOk) << run.err;
  EXPECT_EQ(run.err, "") << "a pinned key needs no warning";
  run = RunCaptured({"list", "--json", pkg});
  EXPECT_NE(run.out.find("\"fingerprint\": \""), std::string::npos) << run.out;
}

// The stub checks with the key stamped in it, so --pub may not vouch for a package whose stub holds
// another key: signed by k, stamped with other, it verifies under k.pub yet never runs.
TEST_F(SfxpackTest, PubDoesNotVouchForAPackageWhoseStubHoldsAnotherKey) {
  std::string pkg = dir.File("pkg.exe"), mixed = dir.File("mixed.exe");
  ASSERT_EQ(RunTool(BuildArgs(pkg)), kExitOk);
  Bytes bytes = test::ReadFileBytes(pkg);
  bytes.resize(bytes.size() - 48);
  SigningKey signer;
  std::string error;
  ASSERT_TRUE(StampStubKey(&bytes, PublicKey("other.pub"), &error)) << error;
  ASSERT_TRUE(LoadSigningKey(keys->File("k.key"), &signer, &error)) << error;
  ASSERT_TRUE(AppendRecord(&bytes, kBinarySignature, signer, &error)) << error;
  test::WriteFileBytes(mixed, bytes);
  ASSERT_EQ(VerifySignedFile(mixed.c_str(), 2, PublicKey("k.pub")), kOk) << "the signature itself is k's";

  EXPECT_EQ(RunTool({"verify", "--pub", keys->File("k.pub"), pkg}), kExitOk);
  ToolRun run = RunCaptured({"verify", "--pub", keys->File("k.pub"), mixed});
  EXPECT_EQ(run.status, kExitFailed);
  EXPECT_NE(run.err.find("the stub would refuse it"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(FingerprintOf(PublicKey("other.pub"))), std::string::npos) << run.err;
  EXPECT_EQ(RunCaptured({"extract", "--pub", keys->File("k.pub"), mixed, dir.File("out")}).status, kExitFailed);
  EXPECT_EQ(RunCaptured({"verify", mixed}).status, kExitFailed) << "nor does the stamped key verify it";
}

TEST(KeyFingerprintTest, ParsesBothFormsAndNothingElse) {
  KeyFingerprint fingerprint;
  std::string error;
  SigningKey signer;
  ASSERT_EQ(SigningKey::FromPrivatePem(test::TestPrivateKeyPem(), &signer, &error), kOk) << error;
  ASSERT_TRUE(KeyFingerprint::Of(signer.PublicKey(), &fingerprint, &error)) << error;
  std::string text = fingerprint.Text(), hex = fingerprint.Hex();
  EXPECT_EQ(text.size(), 7u + 43u) << "32 bytes in base64, no padding";
  std::string upper = hex;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& good : {text, hex, upper}) {
    KeyFingerprint parsed;
    EXPECT_TRUE(KeyFingerprint::Parse(good, &parsed)) << good;
    EXPECT_TRUE(parsed == fingerprint) << good;
  }
  for (const std::string& bad : {text + "=", text.substr(7), "sha256:" + text.substr(7), text.substr(0, 49),
                                 text.substr(0, 20) + "!" + text.substr(21), hex.substr(1) + "g", "MD5:" + hex}) {
    KeyFingerprint parsed;
    EXPECT_FALSE(KeyFingerprint::Parse(bad, &parsed)) << bad;
  }
}

TEST_F(SfxpackTest, FingerprintIsOpensslsSha256OfTheKeyDer) {
#if defined(_WIN32)
  GTEST_SKIP() << "openssl runs on the host";
#endif
  if (std::system("openssl version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl";
  std::string out = dir.File("fp.txt");
  std::string command = "openssl pkey -pubin -in " + keys->File("k.pub") +
                        " -outform DER | openssl dgst -sha256 -binary | openssl base64 -A | tr -d = > " + out;
  ASSERT_EQ(std::system(command.c_str()), 0);
  Bytes expected = test::ReadFileBytes(out);
  EXPECT_EQ("SHA256:" + std::string(expected.begin(), expected.end()), FingerprintOf(PublicKey("k.pub")));
}

// A pipe would fail the signature check as if it were damaged; it is refused as what it is.
TEST_F(SfxpackTest, NonRegularPackagesAreRefusedBeforeTheSignature) {
  std::vector<std::string> paths = {dir.File("payload")};
#if !defined(_WIN32)
  std::string fifo = dir.File("fifo");
  ASSERT_EQ(std::system(("mkfifo " + fifo).c_str()), 0);
  paths.push_back(fifo);
#endif
  for (const auto& path : paths) {
    for (std::string command : {"verify", "list", "extract"}) {
      std::vector<std::string> call = {command, "--pub", keys->File("k.pub"), path};
      if (command == "extract") call.push_back(dir.File("out"));
      ToolRun run = RunCaptured(call);
      EXPECT_EQ(run.status, kExitFailed) << command << " " << path;
      EXPECT_EQ(run.err, "sfxpack: " + path + ": not a regular file (a package is read with seeks; save it to a file "
                         "first)\n");
    }
  }
}

// verify, list and extract describe one cause in one line: the words, then the stub's code.
TEST_F(SfxpackTest, EveryPackageCommandGivesTheSameWordsForTheSameCause) {
  std::string pkg = dir.File("pkg.exe");
  ASSERT_EQ(RunTool(BuildArgs(pkg)), kExitOk);
  ASSERT_EQ(RunTool(BuildArgs(dir.File("text.exe"), "text")), kExitOk);
  Bytes good = test::ReadFileBytes(pkg);
  Bytes flipped = good;
  flipped[good.size() / 2] ^= 1;
  test::WriteFileBytes(dir.File("flipped.exe"), flipped);
  test::WriteFileBytes(dir.File("cut.exe"), Bytes(good.begin(), good.end() - 10));
  const struct {
    const char* file;
    const char* pub;
    const char* words;
  } cases[] = {
      {"flipped.exe", "k.pub", "the signature does not match (the file is damaged, or signed with another key)"},
      {"pkg.exe", "other.pub", "the signature does not match (the file is damaged, or signed with another key)"},
      {"cut.exe", "k.pub", "no signature record at its end (not a package, or cut short)"},
      {"text.exe", "k.pub", "its text signature record is one the stub refuses"},
  };
  for (const auto& c : cases) {
    std::string path = dir.File(c.file);
    std::string first;
    for (std::string command : {"verify", "list", "extract"}) {
      std::vector<std::string> call = {command, "--pub", keys->File(c.pub), path};
      if (command == "extract") call.push_back(dir.File("out"));
      ToolRun run = RunCaptured(call);
      EXPECT_EQ(run.status, kExitFailed) << command << " " << c.file;
      EXPECT_EQ(run.err.rfind("sfxpack: " + path + ": " + c.words, 0), 0u) << run.err;
      EXPECT_NE(run.err.find("(error 1006, 0x000003EE)\n"), std::string::npos) << run.err;
      if (first.empty()) first = run.err;
      EXPECT_EQ(run.err, first) << command;
    }
  }
  EXPECT_FALSE(test::FileExists(dir.File("out")));
}

// verify, list and extract accept what the stub opens, no more: a listed file that reaches past the
// signed range (into the record, or past the end of the file) is refused as the stub refuses it.
TEST_F(SfxpackTest, ListedFilesOutsideTheSignedRangeAreRefusedByEveryCommand) {
  Bytes stub = FakeStub();
  std::string error, pub;
  ASSERT_TRUE(StampStubKey(&stub, test::TestPublicKey(), &error)) << error;
  ASSERT_EQ(test::TestSigningKey().WritePublicPem(&pub, &error), kOk) << error;
  test::WriteFileBytes(dir.File("test.pub"), test::BytesOf(pub));
  test::HostilePackages packages(stub, setup, test::TestSigningKey());
  int checked = 0;
  for (const test::HostileRow& row : packages.Rows()) {
    if (row.name != "good-binary" && row.name.rfind("listed-file-", 0) != 0) continue;
    ++checked;
    const std::string path = dir.File(row.name + ".exe");
    test::WriteFileBytes(path, row.package);
    const bool runs = row.stage == test::HostileStage::kRuns;
    for (std::string command : {"verify", "list", "extract"}) {
      std::vector<std::string> call = {command, "--pub", dir.File("test.pub"), path};
      if (command == "extract") call.push_back(dir.File("out-" + row.name));
      ToolRun run = RunCaptured(call);
      EXPECT_EQ(run.status, runs ? kExitOk : kExitFailed) << command << " " << row.name << ": " << run.err;
      if (!runs) {
        EXPECT_NE(run.err.find(": damaged package directory (error 1006, 0x000003EE)"), std::string::npos) << run.err;
      }
    }
  }
  EXPECT_GE(checked, 5);
}

// Listed files round-trip whether stored or deflated: each is deflated when that saves 1 % (and it
// is not empty), extract gives every byte back, and list --json names the method and both sizes.
// --store, --level 0 and a stub without the feature marker store every file.
TEST_F(SfxpackTest, ListedFilesRoundTripStoredOrDeflated) {
  const Bytes block = test::NoiseBytes(1000, 4);
  auto repeated = [&](size_t size) {
    Bytes bytes;
    while (bytes.size() < size) bytes.insert(bytes.end(), block.begin(), block.end());
    bytes.resize(size);
    return bytes;
  };
  struct File {
    std::string name;
    Bytes bytes;
    bool deflates;
  };
  std::vector<File> files = {{"empty.txt", {}, false},
                             {"one.bin", {7}, false},
                             {"noise.bin", test::NoiseBytes(100000, 5), false},
                             {"compressible.bin", repeated(300000), true},
                             {"one-piece.bin", repeated(kExtractPieceSize), true},
                             {"pieces.bin", repeated(2 * kExtractPieceSize + kExtractPieceSize / 2 + 1), true}};
  for (int i = 0; i < 40; ++i) {
    std::string text;
    for (int line = 0; line < 8; ++line) text += "small file " + std::to_string(i) + ", line " + std::to_string(line) + "\n";
    files.push_back({"small" + std::to_string(i) + ".txt", test::BytesOf(text), true});
  }
  std::string error;
  ASSERT_TRUE(MakeDirectory(dir.File("files"), &error)) << error;
  for (const File& file : files) test::WriteFileBytes(dir.File("files/" + file.name), file.bytes);
  test::WriteFileBytes(dir.File("old-stub.exe"), FakeStub(false));
  struct Build {
    std::string name;
    std::vector<std::string> options;
    bool deflates;
    bool oldStub;
  };
  const Build builds[] = {{"default", {}, true, false},
                          {"level-1", {"--level", "1"}, true, false},
                          {"store", {"--store"}, false, false},
                          {"level-0", {"--level", "0"}, false, false},
                          {"old-stub", {}, false, true}};
  for (const Build& build : builds) {
    SCOPED_TRACE(build.name);
    const std::string package = dir.File("pkg-" + build.name + ".exe"), out = dir.File("out-" + build.name);
    std::vector<std::string> args = {"build", "--stub", dir.File(build.oldStub ? "old-stub.exe" : "stub.exe"),
                                     "--key", keys->File("k.key"), "--setup", dir.File("setup.exe"),
                                     "--dir", dir.File("files"), "-o", package};
    args.insert(args.end() - 2, build.options.begin(), build.options.end());
    ToolRun run = RunCaptured(args);
    ASSERT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(run.err.find("sfxpack: note: the stub has no feature marker") != std::string::npos, build.oldStub)
        << run.err;
    ASSERT_EQ(RunTool({"extract", package, out}), kExitOk);
    run = RunCaptured({"list", "--json", package});
    ASSERT_EQ(run.status, kExitOk) << run.err;
    for (const File& file : files) {
      EXPECT_EQ(test::ReadFileBytes(out + "/" + file.name), file.bytes) << file.name;
      const bool deflated = build.deflates && file.deflates;
      const std::regex entry("\"name\": \"" + file.name + "\", \"offset\": [0-9]+, \"size\": ([0-9]+), "
                             "\"unpackedSize\": " + std::to_string(file.bytes.size()) + ", \"method\": \"" +
                             (deflated ? "deflated" : "stored") + "\"");
      std::smatch match;
      ASSERT_TRUE(std::regex_search(run.out, match, entry)) << file.name << "\n" << run.out;
      const uint64_t size = std::stoull(match[1]);
      if (deflated) {
        EXPECT_LE(size * 100, file.bytes.size() * 99) << file.name;
      } else {
        EXPECT_EQ(size, file.bytes.size()) << file.name;
      }
    }
  }
}

// A deflated file must inflate to exactly its declared bytes, inside the bounds the stub keeps:
// verify and list refuse what the stub refuses when it opens, extract also what fails as it
// inflates, and no partial file stays.
TEST_F(SfxpackTest, DeflatedFilesTheStubRefusesAreRefusedAndLeaveNoFile) {
  Bytes stub = FakeStub();
  std::string error, pub;
  ASSERT_TRUE(StampStubKey(&stub, test::TestPublicKey(), &error)) << error;
  ASSERT_EQ(test::TestSigningKey().WritePublicPem(&pub, &error), kOk) << error;
  test::WriteFileBytes(dir.File("test.pub"), test::BytesOf(pub));
  int checked = 0;
  for (const test::HostileRow& row : test::HostilePackages(stub, setup, test::TestSigningKey()).Rows()) {
    if (row.name.rfind("deflated-", 0) != 0) continue;
    ++checked;
    const std::string path = dir.File(row.name + ".exe"), out = dir.File("out-" + row.name);
    test::WriteFileBytes(path, row.package);
    for (std::string command : {"verify", "list", "extract"}) {
      std::vector<std::string> call = {command, "--pub", dir.File("test.pub"), path};
      if (command == "extract") call.push_back(out);
      const bool fails = row.stage == test::HostileStage::kOpening ||
                         (command == "extract" && row.stage != test::HostileStage::kRuns);
      ToolRun run = RunCaptured(call);
      EXPECT_EQ(run.status, fails ? kExitFailed : kExitOk) << command << " " << row.name << ": " << run.err;
      if (fails) {
        EXPECT_NE(run.err.find("(error 1006, 0x000003EE)"), std::string::npos) << row.name << ": " << run.err;
      }
    }
    for (const std::string& name : {std::string("packed.bin"), std::string("part0")}) {
      const bool written = row.stage == test::HostileStage::kRuns && name == "packed.bin";
      EXPECT_EQ(test::FileExists(out + "/" + name), written) << row.name;
    }
    if (row.stage == test::HostileStage::kRuns) {
      EXPECT_EQ(test::ReadFileBytes(out + "/packed.bin"), row.files[0].bytes);
    }
  }
  EXPECT_GE(checked, 9);
}

// The package's text is the package maker's: list prints it escaped, so that it can neither print a
// line of its own (a forged key) nor hide the tool's (a terminal's concealed mode).
TEST_F(SfxpackTest, ListEscapesControlCharactersInThePackagesText) {
  std::vector<std::string> args = BuildArgs(dir.File("pkg.exe"));
  args[8] = "/q\nkey:          SHA256:forged\x1b[8m";
  args.insert(args.end() - 2, {"--file", "csi\xc2\x9b.txt=" + dir.File("a.txt")});
  ASSERT_EQ(RunTool(args), kExitOk);
  ToolRun run = RunCaptured({"list", dir.File("pkg.exe")});
  ASSERT_EQ(run.status, kExitOk) << run.err;
  EXPECT_NE(run.out.find("\ncommand:      /q\\u000akey:          SHA256:forged\\u001b[8m\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  csi\\u009b.txt\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("\nkey:          SHA256:forged"), std::string::npos);
  for (char c : run.out) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int{c};
}

TEST_F(SfxpackTest, VerifyJsonGivesKindLengthFingerprintAndResult) {
  std::string pkg = dir.File("pkg.exe");
  ASSERT_EQ(RunTool(BuildArgs(pkg)), kExitOk);
  uint32_t signedLength = 0;
  ASSERT_EQ(FindSignatureRecord(pkg.c_str(), nullptr, nullptr, &signedLength), kOk);
  KeyFingerprint fingerprint;
  std::string error;
  ASSERT_TRUE(KeyFingerprint::Of(PublicKey("k.pub"), &fingerprint, &error));
  ToolRun run = RunCaptured({"verify", "--json", "--pub", keys->File("k.pub"), pkg});
  EXPECT_EQ(run.status, kExitOk);
  std::string escaped;
  for (char c : pkg) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  EXPECT_EQ(run.out, "{\"file\": \"" + escaped + "\", \"kind\": \"binary signature\", \"signedLength\": " +
                         std::to_string(signedLength) + ", \"key\": \"--pub\", \"fingerprint\": \"" +
                         fingerprint.Hex() + "\", \"certificateTable\": null, \"result\": \"valid\", \"code\": 0}\n");
  run = RunCaptured({"verify", "--json", "--pub", keys->File("other.pub"), pkg});
  EXPECT_EQ(run.status, kExitFailed);
  EXPECT_NE(run.out.find("\"result\": \"the signature does not match"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"code\": 1006}"), std::string::npos) << run.out;
}

// Without --stub, build and stamp-key take the stub installed beside the tool (../share/sfxstub
// from its folder; here the test program's) and say which one they used.
TEST_F(SfxpackTest, WithoutStubTheInstalledOneBesideTheToolIsUsed) {
  std::string share = BesideExecutable("../share");
  std::string installed = BesideExecutable("../share/sfxstub/sfxstub.exe");
  ASSERT_FALSE(test::FileExists(installed)) << "left over: " << installed;
  std::vector<std::string> args = BuildArgs(dir.File("pkg.exe"));
  args.erase(args.begin() + 1, args.begin() + 3);  // --stub STUB
  ToolRun run = RunCaptured(args);
  EXPECT_EQ(run.status, kExitUsage);
  EXPECT_NE(run.err.find("missing option --stub STUB (no installed stub at "), std::string::npos) << run.err;

  std::string error;
  ASSERT_TRUE(MakeDirectory(share + "/sfxstub", &error)) << error;
  test::WriteFileBytes(installed, FakeStub());
  run = RunCaptured(args);
  ToolRun stamped = RunCaptured({"stamp-key", "--pub", keys->File("k.pub"), "-o", dir.File("stamped.exe")});
  std::filesystem::remove_all(share);
  EXPECT_EQ(run.status, kExitOk) << run.err;
  EXPECT_NE(run.out.find("stub " + installed + "\n"), std::string::npos) << run.out;
  EXPECT_EQ(stamped.status, kExitOk) << stamped.err;
  EXPECT_NE(stamped.out.find("stub " + installed + "\n"), std::string::npos) << stamped.out;
  EXPECT_EQ(RunTool({"verify", "-q", "--pub", keys->File("k.pub"), dir.File("pkg.exe")}), kExitOk);
}

// The man page is written by hand: every command and option the tool takes must be in it.
// build reads up to 64 MiB of the setup program for its manifest: a small program, or one whose
// PE image ends early (data appended after it), must not cost that much memory.
TEST_F(SfxpackTest, SetupImageReadsTheImageNotTheLimit) {
  Bytes program = FakeProgram();
  test::WriteFileBytes(dir.File("small.exe"), program);
  ByteVector image;
  std::string error;
  ASSERT_TRUE(ReadFilePrefix(dir.File("small.exe"), size_t{256} << 20, &image, &error)) << error;
  EXPECT_EQ(image, program);
  EXPECT_LT(image.capacity(), size_t{4} << 20);
  ASSERT_TRUE(ReadSetupImage(dir.File("small.exe"), &image, &error)) << error;
  EXPECT_EQ(image, program);
}

TEST(ManPageTest, NamesEveryCommandAndOption) {
#if !defined(SFX_MAN_PAGE)
  GTEST_SKIP() << "the man page is checked on the host";
#else
  Bytes bytes = test::ReadFileBytes(SFX_MAN_PAGE);
  std::string page(bytes.begin(), bytes.end());
  ASSERT_FALSE(page.empty());
  for (const CommandSpec& command : Commands()) {
    EXPECT_NE(page.find(std::string(".BI \"") + command.name + " "), std::string::npos) << command.name;
    for (const OptionSpec& option : command.options) {
      std::string name = std::string("\\-\\-") + option.name;
      for (size_t dash = name.find('-', 4); dash != std::string::npos; dash = name.find('-', dash + 2)) {
        name.insert(dash, "\\");
      }
      EXPECT_NE(page.find(name), std::string::npos) << command.name << " --" << option.name;
    }
  }
  for (const char* global : {"\\-q", "\\-\\-quiet", "\\-\\-help", "\\-\\-version", "help", "EXIT STATUS"}) {
    EXPECT_NE(page.find(global), std::string::npos) << global;
  }
#endif
}

TEST_F(SfxpackTest, TamperedOrCutPackagesNeverOpen) {
  std::string package = dir.File("pkg.exe");
  ASSERT_EQ(RunTool(BuildArgs(package)), kExitOk);
  Bytes good = test::ReadFileBytes(package);
  DsaPublicKey key = PublicKey("k.pub");
  std::string damaged = dir.File("damaged.exe");
  // Every cut in the last 300 bytes (directory, trailer, record), and a stride through the rest.
  for (size_t cut = 0; cut < good.size(); cut += (cut + 300 < good.size() ? 97 : 1)) {
    test::WriteFileBytes(damaged, Bytes(good.begin(), good.begin() + cut));
    SfxArchive archive(key);
    EXPECT_NE(archive.Open(damaged.c_str()), kOk) << "cut at " << cut;
  }
  Bytes appended = good;
  appended.push_back(0);
  test::WriteFileBytes(damaged, appended);
  SfxArchive archive(key);
  EXPECT_EQ(archive.Open(damaged.c_str()), kErrorFileInvalid) << "one byte after a binary record";
}

TEST_F(SfxpackTest, OpensslKeysBuildAndVerify) {
#if defined(_WIN32)
  GTEST_SKIP() << "openssl runs on the host";
#endif
  if (std::system("openssl version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl";
  std::string key = dir.File("ossl.key"), pub = dir.File("ossl.pub");
  std::string command = "openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024 "
                        "-pkeyopt dsa_paramgen_q_bits:160 -out " + dir.File("params.pem") +
                        " 2>/dev/null && openssl genpkey -paramfile " + dir.File("params.pem") + " -out " + key +
                        " 2>/dev/null && openssl pkey -in " + key + " -pubout -out " + pub + " 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::vector<std::string> args = BuildArgs(dir.File("pkg.exe"));
  args[4] = key;
  ASSERT_EQ(RunTool(args), kExitOk);
  EXPECT_EQ(RunTool({"verify", "--pub", pub, dir.File("pkg.exe")}), kExitOk);
  EXPECT_EQ(RunTool({"verify", "--pub", keys->File("k.pub"), dir.File("pkg.exe")}), kExitFailed);
}

#if !defined(_WIN32)
// Sets the process's umask for a scope: with 0, a file's mode is exactly the one it was created with.
class Umask {
 public:
  explicit Umask(mode_t mask) : saved_(umask(mask)) {}
  ~Umask() { umask(saved_); }

 private:
  mode_t saved_;
};

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_mode;
}

// A private key is owner-only from the moment its file exists, whatever the umask, and links planted
// where it is written (the final name, the name a temporary file once had) are never written through.
TEST_F(SfxpackTest, PrivateKeyIsOwnerOnlyFromTheStartAndNeverWrittenThroughALink) {
  Umask open(0);
  const Bytes victim = test::BytesOf("someone else's file");
  test::WriteFileBytes(dir.File("victim1"), victim);
  test::WriteFileBytes(dir.File("victim2"), victim);
  fs::create_symlink(dir.File("victim1"), dir.File("k.key.tmp~"));
  fs::create_symlink(dir.File("victim2"), dir.File("k.key"));
  EXPECT_EQ(RunTool({"keygen", "--out", dir.File("k")}), kExitFailed) << "k.key is there";
  ASSERT_EQ(RunTool({"keygen", "--out", dir.File("k"), "--force"}), kExitOk);
  EXPECT_EQ(test::ReadFileBytes(dir.File("victim1")), victim);
  EXPECT_EQ(test::ReadFileBytes(dir.File("victim2")), victim);
  EXPECT_TRUE(S_ISREG(ModeOf(dir.File("k.key"))));
  EXPECT_EQ(ModeOf(dir.File("k.key")) & 0777, 0600u);
  EXPECT_EQ(ModeOf(dir.File("victim1")) & 0777, 0666u) << "a link's target keeps its mode";
  SigningKey key;
  std::string error;
  EXPECT_TRUE(LoadSigningKey(dir.File("k.key"), &key, &error)) << error;
  // No temporary file stays behind.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    std::string name = entry.path().filename().string();
    if (name.find(".tmp~") != std::string::npos && name != "k.key.tmp~") names.push_back(name);
  }
  EXPECT_TRUE(names.empty()) << names[0];
}

// extract never writes through what already stands at an output's name (a link planted there, a
// file left from before): that is an error, and --force removes it (a link itself, not its target).
TEST_F(SfxpackTest, ExtractRefusesExistingOutputsAndForceRemovesThemNotTheirTargets) {
  const std::string package = dir.File("pkg.exe");
  ASSERT_EQ(RunTool(BuildArgs(package)), kExitOk);
  const Bytes victim = test::BytesOf("someone else's file");
  test::WriteFileBytes(dir.File("victim"), victim);
  const std::string out = dir.File("out");
  fs::create_directory(out);
  fs::create_symlink(dir.File("victim"), out + "/setup.ovr");
  test::WriteFileBytes(out + "/first.txt", test::BytesOf("left from before"));
  EXPECT_EQ(RunTool({"extract", package, out}), kExitFailed);
  EXPECT_EQ(test::ReadFileBytes(dir.File("victim")), victim);
  EXPECT_EQ(test::ReadFileBytes(out + "/first.txt"), test::BytesOf("left from before"));

  EXPECT_EQ(RunTool({"extract", "--force", package, out}), kExitOk);
  EXPECT_EQ(test::ReadFileBytes(dir.File("victim")), victim);
  EXPECT_FALSE(fs::is_symlink(out + "/setup.ovr"));
  EXPECT_EQ(test::ReadFileBytes(out + "/setup.ovr"), setup);
  EXPECT_EQ(test::ReadFileBytes(out + "/first.txt"), test::BytesOf("alpha"));
}

// --dir takes regular files, through links too (which -v reports); a FIFO, a device or a socket is
// refused with the reason, where reading it would never end or would read nothing real. The FIFO
// comes last: before this was refused, reading it blocked for good.
TEST_F(SfxpackTest, DirRefusesWhatIsNoRegularFileAndFollowsLinksToFilesInside) {
  const std::string payload = dir.File("payload");
  fs::create_symlink("c.dat", payload + "/linked.txt");
  std::vector<std::string> args = BuildArgs(dir.File("pkg.exe"));
  args.push_back("-v");
  testing::internal::CaptureStderr();
  ASSERT_EQ(RunTool(args), kExitOk);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find(payload + "/linked.txt is a link"), std::string::npos) << said;
  SfxArchive archive(PublicKey("k.pub"));
  ASSERT_EQ(archive.Open(dir.File("pkg.exe").c_str()), kOk);
  ASSERT_EQ(archive.entries.size(), 5u);
  EXPECT_EQ(archive.entries[4].name, "linked.txt");
  EXPECT_EQ(archive.entries[4].size, 10u);

  // A link that leads out of the folder packs what nobody put there: the private key beside it.
  fs::copy_file(keys->File("k.key"), dir.File("k.key"));
  for (const std::string& target : {std::string("../k.key"), dir.File("a.txt"), std::string("../payload/../a.txt")}) {
    const std::string link = payload + "/out.txt";
    fs::remove(link);
    fs::create_symlink(target, link);
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunTool(BuildArgs(dir.File("out.exe"))), kExitFailed) << target;
    const std::string error = testing::internal::GetCapturedStderr();
    EXPECT_NE(error.find("'out.txt' is a link to " + fs::canonical(link).string() + ", outside the folder"),
              std::string::npos) << error;
    EXPECT_FALSE(test::FileExists(dir.File("out.exe")));
  }
  fs::remove(payload + "/out.txt");

  struct Case {
    const char* kind;
    std::function<void(const std::string&)> make;
  };
  const Case cases[] = {
      {"a device", [](const std::string& path) { fs::create_symlink("/dev/null", path); }},
      {"a socket",
       [](const std::string& path) {
         int fd = socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
         EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
         close(fd);
       }},
      {"a link to nothing", [](const std::string& path) { fs::create_symlink("/nonexistent-sfx", path); }},
      {"a FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
  };
  for (const Case& c : cases) {
    const std::string odd = payload + "/odd";
    fs::remove(odd);
    c.make(odd);
    testing::internal::CaptureStderr();
    const int exit = RunTool(BuildArgs(dir.File("odd.exe")));
    const std::string error = testing::internal::GetCapturedStderr();
    ASSERT_EQ(exit, kExitFailed) << c.kind;
    EXPECT_NE(error.find("'odd' is " + std::string(c.kind)), std::string::npos) << error;
  }
}

// The temporary files are created with their final mode and never open what already has the name.
TEST_F(SfxpackTest, NewFilesAreExclusiveAndOwnerOnlyWhenAsked) {
  Umask open(0);
  struct Case {
    FileAccess access;
    mode_t mode;
  };
  for (const Case& c : {Case{FileAccess::kOwnerOnly, 0600}, Case{FileAccess::kShared, 0666}}) {
    const std::string path = dir.File("new");
    fs::remove(path);
    int fd = CreateNewFile(path, c.access);
    ASSERT_GE(fd, 0);
    struct stat info {};
    ASSERT_EQ(fstat(fd, &info), 0);
    EXPECT_EQ(info.st_mode & 0777, c.mode);
    close(fd);
  }
  test::WriteFileBytes(dir.File("kept"), test::BytesOf("kept"));
  fs::create_symlink(dir.File("kept"), dir.File("link"));
  fs::create_symlink(dir.File("nowhere"), dir.File("dangling"));
  for (const char* name : {"kept", "link", "dangling"}) {
    errno = 0;
    EXPECT_EQ(CreateNewFile(dir.File(name), FileAccess::kOwnerOnly), -1) << name;
    EXPECT_EQ(errno, EEXIST) << name;
  }
  EXPECT_EQ(test::ReadFileBytes(dir.File("kept")), test::BytesOf("kept"));
  EXPECT_FALSE(fs::exists(dir.File("nowhere")));
}
#endif

}  // namespace
}  // namespace sfx
