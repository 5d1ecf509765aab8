#include "archive/entry_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "testkit/archive/zip_test_builder.h"

namespace {

using ziptest::Archive;
using ziptest::Build;
using ziptest::Entry;

Entry File(const std::string& name, const std::string& data, std::uint16_t method) {
  Entry e;
  e.name = name;
  e.data = data;
  e.method = method;
  return e;
}

// Text that deflates well, noise that does not, and runs, past several
// input buffers.
std::string MixedContent() {
  std::string text;
  for (int i = 0; text.size() < 70000; ++i) text += "line " + std::to_string(i) + " of the log\n";
  return text + ziptest::NoiseBytes(50000, 7) + std::string(40000, '\0');
}

class EntryStreamTest : public ::testing::Test {
 protected:
  // Opens the archive and the entry at `index`; the bytes stay in the fixture.
  void OpenEntry(const Archive& archive, std::uint32_t index) {
    bytes_ = Build(archive);
    directory_ = OpenDirectory(
        OpenMemorySource(bytes_.data(), static_cast<std::uint32_t>(bytes_.size())));
    ASSERT_TRUE(directory_) << DirectoryOpenStatus;
    ASSERT_EQ(SeekEntry(directory_.get(), index), DirOk);
    ASSERT_EQ(OpenEntryStream(directory_.get()), DirOk);
  }

  // Reads to the end in calls of `chunk` bytes; the last status read (0 at
  // a clean end, negative on failure) goes to *last.
  std::string ReadAll(std::uint32_t chunk, std::int32_t* last) {
    std::string out;
    std::string buffer(chunk, '\0');
    for (;;) {
      const std::int32_t r = ReadEntryStream(directory_.get(), &buffer[0], chunk);
      *last = r;
      if (r <= 0) break;
      EXPECT_LE(static_cast<std::uint32_t>(r), chunk);
      out.append(buffer, 0, static_cast<std::size_t>(r));
    }
    return out;
  }

  std::string bytes_;
  std::unique_ptr<ArchiveDirectory> directory_;
};

TEST_F(EntryStreamTest, StoredAndDeflatedReadTheSameInAnyCallSize) {
  const std::string content = MixedContent();
  for (std::uint16_t method : {0, 8}) {
    Archive a;
    a.entries = {File("first", "x", 0), File("data.bin", content, method)};
    for (std::uint32_t chunk : {1u, 7u, 16384u, 100000u}) {
      OpenEntry(a, 1);
      std::int32_t last = 1;
      EXPECT_TRUE(ReadAll(chunk, &last) == content) << "method " << method << " chunk " << chunk;
      EXPECT_EQ(last, 0);
      EXPECT_EQ(EntryBytesLeft(directory_.get()), 0u);
      EXPECT_EQ(CloseEntryStream(directory_.get()), DirOk);
      EXPECT_EQ(CloseEntryStream(directory_.get()), DirBadParameter);
    }
  }
}

TEST_F(EntryStreamTest, CrcMismatchShowsOnlyAfterAFullRead) {
  for (std::uint16_t method : {0, 8}) {
    Archive a;
    a.entries = {File("data.bin", MixedContent(), method)};
    a.entries[0].centralCrc = a.entries[0].localCrc = ziptest::Crc32(a.entries[0].data) ^ 1;
    OpenEntry(a, 0);
    char buffer[100];
    ASSERT_EQ(ReadEntryStream(directory_.get(), buffer, sizeof buffer), 100);
    EXPECT_EQ(CloseEntryStream(directory_.get()), DirOk) << "partly read is never checked";

    ASSERT_EQ(OpenEntryStream(directory_.get()), DirOk);
    std::int32_t last = 1;
    ReadAll(16384, &last);
    EXPECT_EQ(last, 0);
    EXPECT_EQ(CloseEntryStream(directory_.get()), DirCrcMismatch) << "method " << method;
  }
}

TEST_F(EntryStreamTest, EmptyEntryEndsAtOnce) {
  for (std::uint16_t method : {0, 8}) {
    Archive a;
    a.entries = {File("empty", "", method)};
    OpenEntry(a, 0);
    char c;
    EXPECT_EQ(ReadEntryStream(directory_.get(), &c, 1), 0);
    EXPECT_EQ(CloseEntryStream(directory_.get()), DirOk);
  }
}

TEST_F(EntryStreamTest, EntryThatCannotDeliverItsSizeGivesWhatItHasThenFails) {
  struct Case {
    const char* what;
    std::uint16_t method;
    void (*damage)(Entry&);
  };
  const Case cases[] = {
      {"stored data shorter than its size", 0,
       [](Entry& e) { e.centralUncompressedSize = e.localUncompressedSize = e.data.size() + 10; }},
      {"DEFLATE stream ends before the stated size", 8,
       [](Entry& e) { e.centralUncompressedSize = e.localUncompressedSize = e.data.size() + 10; }},
      {"DEFLATE data cut short", 8,
       [](Entry& e) {
         e.hasRawData = true;
         e.rawData = ziptest::Deflate(e.data);
         e.rawData.resize(e.rawData.size() / 2);
       }},
      {"DEFLATE block of the reserved type", 8,
       [](Entry& e) {
         e.hasRawData = true;
         e.rawData = ziptest::Deflate(e.data);
         e.rawData[0] = 0x07;  // final block, type 3
       }},
  };
  for (const Case& c : cases) {
    Archive a;
    a.entries = {File("data.bin", MixedContent(), c.method)};
    c.damage(a.entries[0]);
    OpenEntry(a, 0);
    std::int32_t last = 0;
    const std::string got = ReadAll(16384, &last);
    EXPECT_LT(last, 0) << c.what;
    EXPECT_TRUE(got == a.entries[0].data.substr(0, got.size())) << c.what << ": good bytes only";
    char c1;
    EXPECT_LT(ReadEntryStream(directory_.get(), &c1, 1), 0) << c.what << ": stays failed";
    EXPECT_GT(EntryBytesLeft(directory_.get()), 0u) << c.what;
    CloseEntryStream(directory_.get());
  }
}

// Every stated byte arrives and the CRC-32 matches, but the DEFLATE stream
// does not end there: cut before its final block, or with more to give.
TEST_F(EntryStreamTest, DeflateStreamThatDoesNotEndAtTheStatedSizeFails) {
  const std::string data = MixedContent();
  // One stored block that is not the final one: all of the data, no end.
  std::string withoutEnd = data.substr(0, 60000);
  const auto length = static_cast<std::uint16_t>(withoutEnd.size());
  withoutEnd.insert(0, std::string{'\0', static_cast<char>(length & 0xFF),
                                   static_cast<char>(length >> 8),
                                   static_cast<char>(~length & 0xFF),
                                   static_cast<char>((~length >> 8) & 0xFF)});
  const struct {
    const char* what;
    std::string content;
    std::string raw;
  } cases[] = {
      {"stream without its final block", data.substr(0, 60000), withoutEnd},
      {"stream with more than the stated size", data, ziptest::Deflate(data + "more")},
  };
  for (const auto& c : cases) {
    Archive a;
    a.entries = {File("data.bin", c.content, 8)};
    a.entries[0].hasRawData = true;
    a.entries[0].rawData = c.raw;
    OpenEntry(a, 0);
    std::int32_t last = 0;
    const std::string got = ReadAll(16384, &last);
    EXPECT_LT(last, 0) << c.what;
    EXPECT_TRUE(got == c.content.substr(0, got.size())) << c.what;
    CloseEntryStream(directory_.get());
  }
}

TEST_F(EntryStreamTest, CompressedDataPastTheEndOfTheSourceIsAnIoError) {
  Archive a;
  a.entries = {File("data.bin", MixedContent(), 0)};
  a.entries[0].centralCompressedSize = a.entries[0].localCompressedSize = 0x7FFFFFF0u;
  a.entries[0].centralUncompressedSize = a.entries[0].localUncompressedSize = 0x7FFFFFF0u;
  OpenEntry(a, 0);
  std::int32_t last = 0;
  ReadAll(16384, &last);
  EXPECT_EQ(last, DirIoError);
}

TEST_F(EntryStreamTest, StoredEntryWithMoreInputThanOutputStopsAtItsSize) {
  Archive a;
  a.entries = {File("data.bin", "0123456789", 0)};
  a.entries[0].hasRawData = true;
  a.entries[0].rawData = "0123456789trailing";
  OpenEntry(a, 0);
  std::int32_t last = 1;
  EXPECT_EQ(ReadAll(4, &last), "0123456789");
  EXPECT_EQ(last, 0);
  EXPECT_EQ(CloseEntryStream(directory_.get()), DirOk);
}

TEST_F(EntryStreamTest, OpeningAnotherEntryClosesTheFirstAndBadHeadersDoNotOpen) {
  Archive a;
  a.entries = {File("one", "first entry", 8), File("two", "second entry", 0),
               File("three", "third", 12)};
  OpenEntry(a, 0);
  char buffer[5];
  ASSERT_EQ(ReadEntryStream(directory_.get(), buffer, 5), 5);
  ASSERT_EQ(SeekEntry(directory_.get(), 1), DirOk);
  ASSERT_EQ(OpenEntryStream(directory_.get()), DirOk);
  std::int32_t last = 1;
  EXPECT_EQ(ReadAll(3, &last), "second entry");

  ASSERT_EQ(SeekEntry(directory_.get(), 2), DirOk);
  EXPECT_EQ(OpenEntryStream(directory_.get()), DirBadArchive) << "method 12";
  EXPECT_EQ(ReadEntryStream(directory_.get(), buffer, 5), DirBadParameter);
  EXPECT_EQ(CloseEntryStream(directory_.get()), DirBadParameter);
  EXPECT_EQ(ReadEntryStream(nullptr, buffer, 5), DirBadParameter);
  EXPECT_EQ(OpenEntryStream(nullptr), DirBadParameter);
}

TEST_F(EntryStreamTest, ClosingTheDirectoryClosesItsOpenEntry) {
  Archive a;
  a.entries = {File("one", MixedContent(), 8)};
  OpenEntry(a, 0);
  char buffer[10];
  ASSERT_EQ(ReadEntryStream(directory_.get(), buffer, 10), 10);
  // The sanitizer run shows whether the inflater and buffers are released.
  EXPECT_EQ(CloseDirectory(std::move(directory_)), DirOk);
}

}  // namespace
