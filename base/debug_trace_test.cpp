#include "base/debug_trace.h"
#include "base/trace_history.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> g_lines;
void Capture(const wchar_t* line) {
  g_lines.push_back(line);
  SetLastError(ERROR_INVALID_DATA);  // a sink that disturbs the value
}

class DebugTraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_lines.clear();
    previous_ = SetDebugTraceSink(nullptr);
  }
  void TearDown() override { SetDebugTraceSink(previous_); }
  DebugTraceSink previous_ = nullptr;
};

TEST_F(DebugTraceTest, WithoutASinkItDoesNothingAndKeepsTheLastError) {
  SetLastError(ERROR_ACCESS_DENIED);
  DebugTrace(L"%s Failed %d !!!\n", L"JsVmCrypto::CheckSign", -2146893818);
  DebugTrace(L"Pack too small\n");
  DebugTrace(L"%s %s %s", nullptr, nullptr, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(g_lines.empty());
}

TEST_F(DebugTraceTest, ASinkReceivesTheFormattedLineWithAWideName) {
  SetDebugTraceSink(&Capture);
  SetLastError(ERROR_FILE_NOT_FOUND);
  DebugTrace(L"%s Failed %d !!!\n", L"JsVmCrypto::CheckSign", -2146893818);
  DebugTrace(L"Pack sign error\n");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(g_lines.size(), 2u);
  EXPECT_EQ(g_lines[0], L"JsVmCrypto::CheckSign Failed -2146893818 !!!\n");
  EXPECT_EQ(g_lines[1], L"Pack sign error\n");
}

// The line is formatted on the stack: one that does not fit is cut, and
// says so; one that just fits is whole.
TEST_F(DebugTraceTest, LinesTooLongForTheBufferAreCutAndMarked) {
  SetDebugTraceSink(&Capture);
  const std::wstring fits(kTraceLineCapacity - 2, L'x');
  DebugTrace(L"%s\n", fits.c_str());
  DebugTrace(L"%s\n", (fits + L"y").c_str());
  ASSERT_EQ(g_lines.size(), 2u);
  EXPECT_EQ(g_lines[0], fits + L"\n");
  EXPECT_EQ(g_lines[1].size(), kTraceLineCapacity - 1);
  const std::wstring mark = kTraceCutMark;
  EXPECT_EQ(g_lines[1].substr(g_lines[1].size() - mark.size()), mark);
}

TEST_F(DebugTraceTest, RemovingTheSinkStopsDelivery) {
  EXPECT_EQ(SetDebugTraceSink(&Capture), nullptr);
  EXPECT_EQ(SetDebugTraceSink(nullptr), &Capture);
  DebugTrace(L"Magic mismatch\n");
  EXPECT_TRUE(g_lines.empty());
}

// The kept lines stay within their bounds, the newest whole: more lines than
// fit drop the oldest, and so do lines longer than the room left.
TEST_F(DebugTraceTest, TheHistoryKeepsTheNewestLinesWithinItsBounds) {
  for (int i = 0; i < 70; ++i) KeepTraceLine((L"line " + std::to_wstring(i) + L"\n").c_str());
  std::vector<std::wstring> kept = KeptTraceLines();
  ASSERT_EQ(kept.size(), kTraceHistoryLines);
  EXPECT_EQ(kept.front(), L"line 6");
  EXPECT_EQ(kept.back(), L"line 69");
  const std::wstring wide(kTraceLineCapacity - 2, L'w');
  for (int i = 0; i < 3; ++i) KeepTraceLine(wide.c_str());
  kept = KeptTraceLines();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept.back(), wide);
  KeepTraceLine(std::wstring(kTraceHistoryCharacters + 10, L'z').c_str());
  kept = KeptTraceLines();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept.front().size(), kTraceHistoryCharacters);
}

}  // namespace
