#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "testkit/archive/zip_test_builder.h"
#include "testkit/build_paths.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int exitCode = -1;
  std::string output;  // standard output and error
};

ToolRun Packtool(const std::string& arguments) {
  ToolRun run;
  const std::string command = std::string(PACKTOOL_COMMAND) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The headers of a program image: a GUI one for x86 unless told otherwise;
// what verify --sub reads of updater.exe.
std::string ProgramImage(unsigned machine = 0x014C, unsigned magic = 0x010B,
                         unsigned characteristics = 0x0102, unsigned subsystem = 2) {
  std::string image(0x200, '\0');
  const auto put16 = [&image](std::size_t at, unsigned value) {
    image[at] = static_cast<char>(value & 0xFF);
    image[at + 1] = static_cast<char>(value >> 8);
  };
  image.replace(0, 2, "MZ");
  put16(0x3C, 0x40);
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  put16(0x44, machine);
  put16(0x56, characteristics);  // 0x0102: an executable 32-bit image
  put16(0x58, magic);
  put16(0x9C, subsystem);       // 2: the GUI subsystem, 3: the console
  return image;
}

class PacktoolCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/packtool-cli-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
    fs::create_directories(dir_ + "/tree/app");
    std::ofstream(dir_ + "/tree/app/updater.exe") << "MZ";
    std::ofstream(dir_ + "/tree/readme.txt") << "hello";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Keys() const {
    return std::string(TEST_PRIVATE_KEY);
  }

  std::string dir_;
};

TEST_F(PacktoolCliTest, BuildThenVerifyIsAccepted) {
  const ToolRun build = Packtool("build " + dir_ + "/tree " + Keys() + " " + dir_ + "/out.pack");
  ASSERT_EQ(0, build.exitCode) << build.output;
  const ToolRun verify = Packtool("verify " + dir_ + "/out.pack " + TEST_PUBLIC_BLOB);
  EXPECT_EQ(0, verify.exitCode) << verify.output;
  EXPECT_NE(std::string::npos, verify.output.find("verdict: accepted (code page 1252)\n"));
  EXPECT_NE(std::string::npos, verify.output.find("magic: 0x4b505643 (CVPK)"));
  EXPECT_NE(std::string::npos, verify.output.find("app/updater.exe"));
}

TEST_F(PacktoolCliTest, ExitCodesAreStable) {
  ASSERT_EQ(0, Packtool("build " + dir_ + "/tree " + Keys() + " " + dir_ + "/out.pack").exitCode);
  std::string pack;
  {
    std::ifstream in(dir_ + "/out.pack", std::ios::binary);
    pack.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::string tampered = pack;
  tampered[tampered.size() - 30] ^= 1;
  std::ofstream(dir_ + "/tampered.pack", std::ios::binary) << tampered;
  std::ofstream(dir_ + "/magic.pack", std::ios::binary) << "XXXX" + pack.substr(4);
  std::ofstream(dir_ + "/notakey.pem") << "nothing";
  fs::create_directories(dir_ + "/bad");
  std::ofstream(dir_ + "/bad/x:y") << "x";
  // An update: a GUI program and the package under "app"; and one without
  // the package.
  fs::create_directories(dir_ + "/update/app");
  std::ofstream(dir_ + "/update/app/updater.exe", std::ios::binary) << ProgramImage();
  fs::copy(dir_ + "/update", dir_ + "/nopackage", fs::copy_options::recursive);
  std::ofstream(dir_ + "/update/app/letterwing.msi") << "package";
  ASSERT_EQ(0, Packtool("build " + dir_ + "/update " + Keys() + " " + dir_ + "/update.pack").exitCode);
  const std::string update = " " + dir_ + "/update.pack " + TEST_PUBLIC_BLOB;
  // Updates whose updater is a console program, or a DLL.
  fs::copy(dir_ + "/update", dir_ + "/console", fs::copy_options::recursive);
  fs::copy(dir_ + "/update", dir_ + "/dll", fs::copy_options::recursive);
  std::ofstream(dir_ + "/console/app/updater.exe", std::ios::binary)
      << ProgramImage(0x014C, 0x010B, 0x0102, 3);
  std::ofstream(dir_ + "/dll/app/updater.exe", std::ios::binary)
      << ProgramImage(0x014C, 0x010B, 0x2102);
  // Two names that are not ASCII; and a name whose byte 0x5C is a separator
  // in code page 1252 but the trail byte of one character in code page 932.
  fs::create_directories(dir_ + "/nonascii/\xc3\xa9t\xc3\xa9");
  std::ofstream(dir_ + "/nonascii/caf\xc3\xa9.txt") << "x";
  ziptest::Archive trail;
  trail.entries.resize(1);
  trail.entries[0].name = "\x83\x5C" "x.txt";
  std::ofstream(dir_ + "/trail.zip", std::ios::binary) << ziptest::Build(trail);
  ASSERT_EQ(0, Packtool("wrap --unchecked " + dir_ + "/trail.zip " + Keys() + " " + dir_ +
                        "/trail.pack").exitCode);
  const std::string trailPack = " " + dir_ + "/trail.pack " + TEST_PUBLIC_BLOB;

  struct Case {
    std::string arguments;
    int exitCode;
    const char* says;
  };
  const Case cases[] = {
      {"", 1, "usage"},
      {"frobnicate", 1, "usage"},
      {"verify " + dir_ + "/out.pack", 1, "usage"},
      {"verify " + dir_ + "/missing.pack " + TEST_PUBLIC_BLOB, 2, "verdict: length-error"},
      {"verify " + dir_ + "/out.pack " + dir_ + "/out.pack", 3, "public key blob"},
      {"build " + dir_ + "/tree " + dir_ + "/notakey.pem " + dir_ + "/x.pack", 3, "PEM"},
      {"build " + dir_ + "/bad " + Keys() + " " + dir_ + "/x.pack", 4, "outside"},
      {"wrap " + dir_ + "/tree/readme.txt " + Keys() + " " + dir_ + "/x.pack", 4, "ZIP"},
      {"verify " + dir_ + "/magic.pack " + TEST_PUBLIC_BLOB, 5, "verdict: magic-mismatch"},
      {"verify " + dir_ + "/tampered.pack " + TEST_PUBLIC_BLOB, 6, "verdict: sign-error"},
      {"verify --sub app" + update, 0, "verdict: accepted"},
      {"verify --sub APP" + update, 0, "verdict: accepted"},
      {"verify --sub other" + update, 8, "verdict: no-updater"},
      {"verify --sub app --machine x64" + update, 9, "not an image for x64"},
      {"verify --sub app " + dir_ + "/out.pack " + TEST_PUBLIC_BLOB, 9, "not a Windows program"},
      {"verify --machine x64" + update, 1, "usage"},
      {"build --sub app " + dir_ + "/nopackage " + Keys() + " " + dir_ + "/x.pack", 10,
       "no file entry app/letterwing.msi"},
      {"build --sub app " + dir_ + "/update " + Keys() + " " + dir_ + "/y.pack", 0, "wrote"},
      {"build --sub app " + dir_ + "/console " + Keys() + " " + dir_ + "/x.pack", 9,
       "GUI subsystem"},
      {"build --sub app " + dir_ + "/dll " + Keys() + " " + dir_ + "/x.pack", 9, "a DLL"},
      {"build " + dir_ + "/nonascii " + Keys() + " " + dir_ + "/x.pack", 4,
       "2 name(s) not plain ASCII"},
      {"verify" + trailPack, 7, "depends on the installing machine's code page"},
      {"verify --codepage 932" + trailPack, 0, "verdict: accepted (code page 932)"},
      {"verify --codepage 99999" + trailPack, 1, "iconv"},
  };
  for (const Case& c : cases) {
    const ToolRun run = Packtool(c.arguments);
    EXPECT_EQ(c.exitCode, run.exitCode) << c.arguments << "\n" << run.output;
    EXPECT_NE(std::string::npos, run.output.find(c.says)) << c.arguments << "\n" << run.output;
  }
  // Nothing is left behind by the refused runs.
  EXPECT_FALSE(fs::exists(dir_ + "/x.pack"));
  EXPECT_FALSE(fs::exists(dir_ + "/x.pack.partial"));
}

TEST_F(PacktoolCliTest, WrapSignsAZipUnchanged) {
  ASSERT_EQ(0, Packtool("build " + dir_ + "/tree " + Keys() + " " + dir_ + "/a.pack").exitCode);
  std::string pack;
  {
    std::ifstream in(dir_ + "/a.pack", std::ios::binary);
    pack.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::ofstream(dir_ + "/payload.zip", std::ios::binary) << pack.substr(272);
  const ToolRun wrap = Packtool("wrap " + dir_ + "/payload.zip " + Keys() + " " + dir_ + "/b.pack");
  ASSERT_EQ(0, wrap.exitCode) << wrap.output;
  std::string wrapped;
  {
    std::ifstream in(dir_ + "/b.pack", std::ios::binary);
    wrapped.assign(std::istreambuf_iterator<char>(in), {});
  }
  // PKCS #1 v1.5 signatures are deterministic: the same payload, the same pack.
  EXPECT_TRUE(pack == wrapped);
}

TEST_F(PacktoolCliTest, KeygenWritesAPairThatWorks) {
  const ToolRun keygen = Packtool("keygen " + dir_ + "/k.pem " + dir_ + "/k.blob");
  ASSERT_EQ(0, keygen.exitCode) << keygen.output;
  EXPECT_EQ(276u, fs::file_size(dir_ + "/k.blob"));
  EXPECT_EQ(fs::perms::none, fs::status(dir_ + "/k.pem").permissions() &
                                 (fs::perms::group_all | fs::perms::others_all));
  ASSERT_EQ(0, Packtool("build " + dir_ + "/tree " + dir_ + "/k.pem " + dir_ + "/k.pack").exitCode);
  EXPECT_EQ(0, Packtool("verify " + dir_ + "/k.pack " + dir_ + "/k.blob").exitCode);
  EXPECT_EQ(6, Packtool("verify " + dir_ + "/k.pack " + TEST_PUBLIC_BLOB).exitCode);
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(PacktoolCliTest, KeygenNeverReplacesAKey) {
  ASSERT_EQ(0, Packtool("keygen " + dir_ + "/k.pem " + dir_ + "/k.blob").exitCode);
  const std::string pem = Contents(dir_ + "/k.pem");
  const std::string blob = Contents(dir_ + "/k.blob");
  const ToolRun again = Packtool("keygen " + dir_ + "/k.pem " + dir_ + "/k.blob");
  EXPECT_EQ(2, again.exitCode);
  EXPECT_NE(std::string::npos, again.output.find("not overwritten")) << again.output;
  // Only the private key is there already: no stray public blob is left.
  const ToolRun half = Packtool("keygen " + dir_ + "/k.pem " + dir_ + "/other.blob");
  EXPECT_EQ(2, half.exitCode);
  EXPECT_FALSE(fs::exists(dir_ + "/other.blob"));
  EXPECT_EQ(pem, Contents(dir_ + "/k.pem"));
  EXPECT_EQ(blob, Contents(dir_ + "/k.blob"));
  EXPECT_FALSE(fs::exists(dir_ + "/k.pem.partial"));
}

}  // namespace
