#include "testkit/pack/pack_test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/debug_trace.h"
#include "pack/embedded_public_key.h"
#include "testkit/build_paths.h"
#include "testkit/scoped_temp_dir.h"

namespace packtest {
namespace {

std::vector<std::wstring>& CapturedLines() {
  static std::vector<std::wstring> lines;
  return lines;
}

void Capture(const wchar_t* line) { CapturedLines().push_back(line); }

}  // namespace

std::wstring TestPackPath(const std::wstring& name) {
  return std::wstring(TEST_PACKS_DIR) + L"\\" + name;
}

std::string ReadTestPack(const std::wstring& name) {
  std::string bytes;
  EXPECT_TRUE(testkit::ReadFileBytes(TestPackPath(name), &bytes))
      << "missing test pack " << std::string(name.begin(), name.end());
  return bytes;
}

bool BelowModulus(const std::string& signature) {
  if (signature.size() != kModulusSize) return false;
  const unsigned char* modulus = kEmbeddedPublicKey + (kPublicKeyBlobSize - kModulusSize);
  for (std::size_t i = kModulusSize; i-- > 0;) {
    const unsigned char s = static_cast<unsigned char>(signature[i]);
    if (s != modulus[i]) return s < modulus[i];
  }
  return false;
}

std::wstring TestTreePath() { return TestPackPath(L"tree"); }

TraceCapture::TraceCapture() {
  CapturedLines().clear();
  SetDebugTraceSink(&Capture);
}

TraceCapture::~TraceCapture() { SetDebugTraceSink(nullptr); }

std::vector<std::wstring> TraceCapture::Lines() const { return CapturedLines(); }

void TraceCapture::Clear() { CapturedLines().clear(); }

ScopedCurrentDirectory::ScopedCurrentDirectory(const std::wstring& directory) {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, buffer);
  if (length > 0 && length <= MAX_PATH) previous_.assign(buffer, length);
  EXPECT_TRUE(SetCurrentDirectoryW(directory.c_str()));
}

ScopedCurrentDirectory::~ScopedCurrentDirectory() {
  if (!previous_.empty()) SetCurrentDirectoryW(previous_.c_str());
}

void ResetVerdicts() {
  DeleteFileW((TestPackPath(L"agreement") + L"\\verdicts.txt").c_str());
}

void RecordVerdict(const std::string& fileName, const std::string& packBytes,
                   const std::string& verdict) {
  const std::wstring directory = TestPackPath(L"agreement");
  const std::wstring wideName(fileName.begin(), fileName.end());
  ASSERT_TRUE(testkit::WriteFileBytes(directory + L"\\" + wideName, packBytes));
  std::string list;
  testkit::ReadFileBytes(directory + L"\\verdicts.txt", &list);
  list += fileName + " " + verdict + "\n";
  ASSERT_TRUE(testkit::WriteFileBytes(directory + L"\\verdicts.txt", list));
}

}  // namespace packtest
