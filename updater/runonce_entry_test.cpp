#include "updater/runonce_entry.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testkit/last_error.h"

namespace {

const wchar_t kTestKey[] = L"Software\\Corvana\\UpdaterTest\\Deeper";

struct StoredValue {
  bool present = false;
  DWORD type = 0;
  std::vector<BYTE> data;
};

StoredValue ReadValue(const std::wstring& subKey, const std::wstring& name) {
  StoredValue value;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return value;
  }
  DWORD size = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
    value.data.resize(size);
    value.present = RegQueryValueExW(key, name.c_str(), nullptr, &value.type,
                                     value.data.data(), &size) == ERROR_SUCCESS;
    value.data.resize(size);
  }
  RegCloseKey(key);
  return value;
}

std::vector<BYTE> BytesOf(const std::wstring& text) {
  const BYTE* begin = reinterpret_cast<const BYTE*>(text.c_str());
  return std::vector<BYTE>(begin, begin + (text.size() + 1) * sizeof(wchar_t));
}

class LocalMachineStringTest : public ::testing::Test {
 protected:
  void TearDown() override {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kTestKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Corvana\\UpdaterTest");
  }
};

TEST_F(LocalMachineStringTest, CreatesTheMissingKeyAndStoresTheTextWithOneNul) {
  ASSERT_FALSE(ReadValue(kTestKey, L"v").present);
  const std::wstring text = L"\"C:\\stage\\sub\\updater.exe\" action";
  ASSERT_TRUE(SetLocalMachineString(kTestKey, L"v", text)) << testkit::LastErrorText();
  const StoredValue stored = ReadValue(kTestKey, L"v");
  ASSERT_TRUE(stored.present);
  EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(stored.data.size(), 2 * text.size() + 2);
  EXPECT_EQ(stored.data, BytesOf(text));
}

TEST_F(LocalMachineStringTest, StoresAnEmptyTextAsASingleNul) {
  ASSERT_TRUE(SetLocalMachineString(kTestKey, L"empty", L""));
  const StoredValue stored = ReadValue(kTestKey, L"empty");
  ASSERT_TRUE(stored.present);
  EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(stored.data, std::vector<BYTE>({0, 0}));
}

TEST_F(LocalMachineStringTest, ReplacesAValueOfTheSameNameWhateverItsType) {
  ASSERT_TRUE(SetLocalMachineString(kTestKey, L"v", L"a much longer first text"));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  const DWORD number = 7;
  RegSetValueExW(key, L"n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  RegCloseKey(key);

  ASSERT_TRUE(SetLocalMachineString(kTestKey, L"v", L"second"));
  ASSERT_TRUE(SetLocalMachineString(kTestKey, L"n", L"text now"));
  EXPECT_EQ(ReadValue(kTestKey, L"v").data, BytesOf(L"second"));
  const StoredValue replaced = ReadValue(kTestKey, L"n");
  EXPECT_EQ(replaced.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(replaced.data, BytesOf(L"text now"));
}

TEST_F(LocalMachineStringTest, RefusesAKeyThatCannotBeCreated) {
  // A key name may not begin with a backslash; nothing is written anywhere.
  EXPECT_FALSE(SetLocalMachineString(L"\\Software\\Corvana\\UpdaterTest", L"v", L"x"));
  EXPECT_FALSE(ReadValue(L"Software\\Corvana\\UpdaterTest", L"v").present);
}

TEST(RunOnceValueTest, WritesUnderTheMachineRunOnceKey) {
  // A name of its own, removed at once, so that no restart ever runs it.
  const std::wstring name = L"!letterwing_runonce_entry_test";
  ASSERT_TRUE(WriteRunOnceValue(name, L"\"C:\\x\\updater.exe\" action"));
  const StoredValue stored =
      ReadValue(L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", name);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegDeleteValueW(key, name.c_str());
    RegCloseKey(key);
  }
  ASSERT_TRUE(stored.present);
  EXPECT_EQ(stored.data, BytesOf(L"\"C:\\x\\updater.exe\" action"));
  EXPECT_STREQ(kRunOnceValueName, L"!letterwing_update_runonce");
}

struct CommandCase {
  const wchar_t* staging;  // as prepare mode passes it: one backslash appended
  const wchar_t* subDirectory;
  const wchar_t* expected;
};

class RunOnceCommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(RunOnceCommandTest, QuotesTheStagedUpdaterAndAddsAction) {
  EXPECT_EQ(ComposeRunOnceCommand(GetParam().staging, GetParam().subDirectory),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RunOnceCommandTest,
    ::testing::Values(
        CommandCase{L"C:\\stage\\", L"sub", L"\"C:\\stage\\sub\\updater.exe\" action"},
        CommandCase{L"C:\\stage\\\\", L"sub", L"\"C:\\stage\\\\sub\\updater.exe\" action"},
        CommandCase{L"C:\\stage\\", L"", L"\"C:\\stage\\\\updater.exe\" action"},
        CommandCase{L"C:\\Program Files\\x y\\", L"Letterwing Update",
                    L"\"C:\\Program Files\\x y\\Letterwing Update\\updater.exe\" action"}));

}  // namespace
