// Checks the updater.exe that ships, the 32-bit build, as a file: a 32-bit
// GUI-subsystem image that imports system DLLs only and carries its string
// table and manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "testkit/last_error.h"
#include "testkit/run_program.h"
#include "testkit/scoped_temp_dir.h"

namespace {

class UpdaterImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = UPDATER_SHIPPED_IMAGE;
    ASSERT_TRUE(testkit::ReadFileBytes(path_, &image_)) << testkit::Narrow(path_);
    ASSERT_GT(image_.size(), 0x400u);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image_.data());
    ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
    ASSERT_LT(static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32), image_.size());
    nt_ = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image_.data() + dos->e_lfanew);
    ASSERT_EQ(nt_->Signature, IMAGE_NT_SIGNATURE);
  }

  // File offset of a relative virtual address, through the section table.
  size_t OffsetOf(DWORD rva) const {
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt_);
    for (WORD i = 0; i < nt_->FileHeader.NumberOfSections; ++i, ++section) {
      const DWORD size = std::max(section->Misc.VirtualSize, section->SizeOfRawData);
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size) {
        return rva - section->VirtualAddress + section->PointerToRawData;
      }
    }
    return 0;
  }

  std::wstring path_;
  std::string image_;
  const IMAGE_NT_HEADERS32* nt_ = nullptr;
};

// One commit builds to the same bytes on any machine: the image holds no
// time stamp and no path of the tree it was built from.
TEST_F(UpdaterImageTest, CarriesNoTimeStampAndNoBuildPath) {
  EXPECT_EQ(nt_->FileHeader.TimeDateStamp, 0u);
  for (const std::string path : {UPDATER_SOURCE_DIR, UPDATER_BUILD_DIR}) {
    std::string wide;
    for (const char c : path) wide += std::string{c, '\0'};
    EXPECT_EQ(image_.find(path), std::string::npos) << path;
    EXPECT_EQ(image_.find(wide), std::string::npos) << path;
  }
}

TEST_F(UpdaterImageTest, IsA32BitLargeAddressAwareGuiImage) {
  EXPECT_EQ(nt_->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
  EXPECT_EQ(nt_->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  EXPECT_EQ(nt_->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  EXPECT_TRUE(nt_->FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE);
  EXPECT_TRUE(nt_->FileHeader.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE);
  EXPECT_FALSE(nt_->FileHeader.Characteristics & IMAGE_FILE_DLL);
}

TEST_F(UpdaterImageTest, ImportsSystemDllsOnly) {
  const IMAGE_DATA_DIRECTORY& directory =
      nt_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  ASSERT_NE(directory.VirtualAddress, 0u);
  size_t offset = OffsetOf(directory.VirtualAddress);
  ASSERT_NE(offset, 0u);
  const std::set<std::string> system = {"kernel32.dll", "user32.dll",   "shell32.dll",
                                        "ole32.dll",    "advapi32.dll", "msvcrt.dll",
                                        "shlwapi.dll",  "oleaut32.dll", "gdi32.dll",
                                        "ntdll.dll"};
  std::vector<std::string> imported;
  for (;; offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    ASSERT_LE(offset + sizeof(IMAGE_IMPORT_DESCRIPTOR), image_.size());
    IMAGE_IMPORT_DESCRIPTOR descriptor;
    std::memcpy(&descriptor, image_.data() + offset, sizeof descriptor);
    if (descriptor.Name == 0) break;
    const size_t nameOffset = OffsetOf(descriptor.Name);
    ASSERT_NE(nameOffset, 0u);
    std::string name(image_.c_str() + nameOffset);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    imported.push_back(name);
  }
  ASSERT_FALSE(imported.empty());
  for (const std::string& name : imported) {
    EXPECT_TRUE(system.count(name) == 1) << "imports " << name;
  }
  EXPECT_TRUE(std::find(imported.begin(), imported.end(), "kernel32.dll") != imported.end());
}

// std::terminate and the runtime's error paths end through the program's
// own replacements (small_runtime.cpp), not the runtime's verbose handler
// with its demangler, whose message would be in the image.
TEST_F(UpdaterImageTest, HoldsNoneOfTheRuntimesOwnTerminateHandler) {
  EXPECT_EQ(image_.find("terminate called"), std::string::npos);
}

class UpdaterResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(UPDATER_SHIPPED_IMAGE, nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << testkit::LastErrorText();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HMODULE module_ = nullptr;
};

TEST_F(UpdaterResourcesTest, StringTwoIsTheProductNameAndNoOtherStringExists) {
  wchar_t buffer[261] = {};
  EXPECT_EQ(LoadStringW(module_, 2, buffer, 260), 10);
  EXPECT_STREQ(buffer, L"Letterwing");
  for (UINT id : {0u, 1u, 3u, 15u, 16u, 100u}) {
    buffer[0] = L'\0';
    EXPECT_EQ(LoadStringW(module_, id, buffer, 260), 0) << "string " << id;
  }
}

TEST_F(UpdaterResourcesTest, CarriesTheApplicationManifest) {
  HRSRC resource = FindResourceW(module_, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(resource, nullptr) << testkit::LastErrorText();
  HGLOBAL loaded = LoadResource(module_, resource);
  ASSERT_NE(loaded, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                             SizeofResource(module_, resource));
  for (const char* expected :
       {"version=\"1.0.0.0\" processorArchitecture=\"X86\" name=\"Corvana.Letterwing.Updater\" "
        "type=\"win32\"",
        "<description>Corvana Letterwing Updater for Vista/Win7</description>",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
        "processorArchitecture=\"X86\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"",
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"}) {
    EXPECT_NE(manifest.find(expected), std::string::npos) << expected;
  }
  // No supported operating systems are declared: the version probe of install
  // mode depends on Windows reporting version 6.2 to this program.
  EXPECT_EQ(manifest.find("supportedOS"), std::string::npos);
  EXPECT_EQ(manifest.find("compatibility"), std::string::npos);
}

}  // namespace
