#include "pack/file_blob_stream.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "testkit/last_error.h"
#include "testkit/scoped_temp_dir.h"

namespace {

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 251) & 0xFF);
  return bytes;
}

// Moves a file's last-write time by a day, as another writer would.
void Touch(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file) << testkit::LastErrorText();
  FILETIME written;
  ASSERT_TRUE(GetFileTime(file, nullptr, nullptr, &written));
  ULARGE_INTEGER value;
  value.LowPart = written.dwLowDateTime;
  value.HighPart = written.dwHighDateTime;
  value.QuadPart += 864000000000ULL;
  written.dwLowDateTime = value.LowPart;
  written.dwHighDateTime = value.HighPart;
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &written));
  CloseHandle(file);
}

// A stream that records the reads CopyRangeTo makes through the virtual slot.
class RecordingStream final : public FileBlobStream {
 public:
  using FileBlobStream::FileBlobStream;
  std::int64_t ReadAt(void* buffer, std::int64_t offset, std::int64_t count) override {
    reads.push_back({offset, count});
    return FileBlobStream::ReadAt(buffer, offset, count);
  }
  std::vector<std::pair<std::int64_t, std::int64_t>> reads;
};

// Takes a fixed share of each chunk and keeps what it took.
class CollectingSink final : public BlobSink {
 public:
  explicit CollectingSink(int percent) : percent_(percent) {}
  virtual ~CollectingSink() = default;
  std::int64_t Accept(const void* buffer, std::int64_t count) override {
    std::int64_t take = count * percent_ / 100;
    if (take == 0 && count > 0) take = 1;
    received.append(static_cast<const char*>(buffer), static_cast<std::size_t>(take));
    if (onAccept) onAccept();
    return take;
  }
  std::string received;
  std::function<void()> onAccept;

 private:
  int percent_;
};

class FileBlobStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = temp_.Join(L"pack.bin");
    content_ = Pattern(10000);
    ASSERT_TRUE(testkit::WriteFileBytes(path_, content_));
  }

  testkit::ScopedTempDir temp_;
  std::wstring path_;
  std::string content_;
};

TEST_F(FileBlobStreamTest, ReadsAtOffsetsAndStopsAtTheEnd) {
  CountedRef<FileBlobStream> stream(new FileBlobStream(path_));
  char buffer[20000];
  EXPECT_EQ(100, stream->ReadAt(buffer, 5000, 100));
  EXPECT_EQ(content_.substr(5000, 100), std::string(buffer, 100));
  // More than remains: the remainder, in one call.
  EXPECT_EQ(10, stream->ReadAt(buffer, 9990, 1000));
  EXPECT_EQ(content_.substr(9990), std::string(buffer, 10));
  EXPECT_EQ(0, stream->ReadAt(buffer, 10000, 10));
  EXPECT_EQ(0, stream->ReadAt(buffer, 20000, 10));
  EXPECT_EQ(-1, stream->ReadAt(buffer, -1, 10));
  EXPECT_EQ(-1, stream->ReadAt(nullptr, 0, 10));
  EXPECT_EQ(-1, stream->ReadAt(buffer, 0, -1));
  EXPECT_EQ(10000, stream->ReadAt(buffer, 0, 20000));
  EXPECT_EQ(content_, std::string(buffer, 10000));
}

TEST_F(FileBlobStreamTest, LengthIsQueriedOnceAndCached) {
  CountedRef<FileBlobStream> stream(new FileBlobStream(path_));
  EXPECT_EQ(10000, stream->GetLength());
  // Appending without moving the last-write time (it is put back) shows the
  // second answer comes from the cache.
  HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  FILETIME written;
  ASSERT_TRUE(GetFileTime(file, nullptr, nullptr, &written));
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD put = 0;
  ASSERT_TRUE(WriteFile(file, "more", 4, &put, nullptr));
  ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &written));
  CloseHandle(file);
  EXPECT_EQ(10000, stream->GetLength());
}

TEST_F(FileBlobStreamTest, TouchedFileFailsEveryLaterReadAndLength) {
  CountedRef<FileBlobStream> stream(new FileBlobStream(path_));
  char buffer[100];
  EXPECT_EQ(10000, stream->GetLength());
  EXPECT_EQ(100, stream->ReadAt(buffer, 0, 100));
  Touch(path_);
  EXPECT_EQ(-1, stream->ReadAt(buffer, 0, 100));
  EXPECT_EQ(-1, stream->ReadAt(buffer, 100, 100));
  EXPECT_EQ(-1, stream->GetLength());
}

TEST_F(FileBlobStreamTest, MissingFileFailsEverything) {
  CountedRef<FileBlobStream> stream(new FileBlobStream(temp_.Join(L"missing.bin")));
  char buffer[10];
  EXPECT_EQ(-1, stream->GetLength());
  EXPECT_EQ(-1, stream->ReadAt(buffer, 0, 10));
  std::vector<BlobSourceInfo> list(1);
  EXPECT_FALSE(stream->DescribeSource(list));
  EXPECT_EQ(1u, list.size());
  CollectingSink sink(100);
  EXPECT_EQ(-1, stream->CopyRangeTo(sink, 0, 10));
}

TEST_F(FileBlobStreamTest, DescribeSourceAppendsOneRecordBehindOthers) {
  CountedRef<FileBlobStream> stream(new FileBlobStream(path_));
  std::vector<BlobSourceInfo> list(2);
  list[0].path = L"first";
  ASSERT_TRUE(stream->DescribeSource(list));
  ASSERT_EQ(3u, list.size());
  EXPECT_EQ(L"first", list[0].path);
  const BlobSourceInfo& info = list[2];
  EXPECT_EQ(1u, info.kind);
  EXPECT_EQ(0u, info.reserved1);
  EXPECT_EQ(0u, info.reserved2);
  EXPECT_EQ(path_, info.path);
  EXPECT_EQ(0, info.offset);
  EXPECT_EQ(-1, info.length);
}

TEST_F(FileBlobStreamTest, LastReferenceClosesTheFile) {
  CountedRef<FileBlobStream> first(new FileBlobStream(path_));
  ASSERT_EQ(10000, first->GetLength());
  {
    CountedRef<FileBlobStream> second = first;
    first = CountedRef<FileBlobStream>();
    // Still open: an exclusive open is refused.
    HANDLE exclusive = CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                   nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, exclusive);
    if (exclusive != INVALID_HANDLE_VALUE) CloseHandle(exclusive);
    EXPECT_EQ(10000, second->GetLength());
  }
  HANDLE exclusive = CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, exclusive) << testkit::LastErrorText();
  if (exclusive != INVALID_HANDLE_VALUE) CloseHandle(exclusive);
  EXPECT_TRUE(DeleteFileW(path_.c_str()));
}

class CopyRangeTest : public FileBlobStreamTest {
 protected:
  void SetUp() override {
    path_ = temp_.Join(L"big.bin");
    content_ = Pattern(3 * 0x100000 + 123);
    ASSERT_TRUE(testkit::WriteFileBytes(path_, content_));
  }
};

TEST_F(CopyRangeTest, CopiesInChunksOfOneMebibyte) {
  CountedRef<RecordingStream> stream(new RecordingStream(path_));
  CollectingSink sink(100);
  EXPECT_EQ(3 * 0x100000, stream->CopyRangeTo(sink, 0, 3 * 0x100000));
  const std::vector<std::pair<std::int64_t, std::int64_t>> expected = {
      {0, 0x100000}, {0x100000, 0x100000}, {0x200000, 0x100000}};
  EXPECT_EQ(expected, stream->reads);
  EXPECT_TRUE(sink.received == content_.substr(0, 3 * 0x100000));
}

TEST_F(CopyRangeTest, NextReadStartsAtTheFirstByteNotTaken) {
  CountedRef<RecordingStream> stream(new RecordingStream(path_));
  CollectingSink sink(50);
  EXPECT_EQ(1000, stream->CopyRangeTo(sink, 77, 1000));
  ASSERT_GE(stream->reads.size(), 3u);
  EXPECT_EQ(std::make_pair(std::int64_t{77}, std::int64_t{1000}), stream->reads[0]);
  EXPECT_EQ(std::make_pair(std::int64_t{577}, std::int64_t{500}), stream->reads[1]);
  EXPECT_EQ(std::make_pair(std::int64_t{827}, std::int64_t{250}), stream->reads[2]);
  EXPECT_TRUE(sink.received == content_.substr(77, 1000));
}

TEST_F(CopyRangeTest, NothingToCopyReadsNothing) {
  CountedRef<RecordingStream> stream(new RecordingStream(path_));
  CollectingSink sink(100);
  EXPECT_EQ(0, stream->CopyRangeTo(sink, 0, 0));
  EXPECT_EQ(0, stream->CopyRangeTo(sink, 0, -5));
  EXPECT_TRUE(stream->reads.empty());
}

TEST_F(CopyRangeTest, RangePastTheEndCopiesWhatIsThere) {
  CountedRef<RecordingStream> stream(new RecordingStream(path_));
  CollectingSink sink(100);
  EXPECT_EQ(123, stream->CopyRangeTo(sink, 3 * 0x100000, 0x100000));
  EXPECT_TRUE(sink.received == content_.substr(3 * 0x100000));
}

TEST_F(CopyRangeTest, FailureAfterDeliveryReportsTheBytesDelivered) {
  CountedRef<RecordingStream> stream(new RecordingStream(path_));
  CollectingSink sink(100);
  const std::wstring path = path_;
  sink.onAccept = [path] { Touch(path); };
  EXPECT_EQ(0x100000, stream->CopyRangeTo(sink, 0, 3 * 0x100000));
  EXPECT_EQ(2u, stream->reads.size());
}

TEST_F(CopyRangeTest, SinkThatTakesNothingStopsTheCopy) {
  CountedRef<RecordingStream> stream(new RecordingStream(path_));
  class Refusing final : public BlobSink {
   public:
    virtual ~Refusing() = default;
    std::int64_t Accept(const void*, std::int64_t) override { return 0; }
  } refusing;
  EXPECT_EQ(0, stream->CopyRangeTo(refusing, 0, 3 * 0x100000));
  EXPECT_EQ(1u, stream->reads.size());
}

}  // namespace
