#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/counted_object.h"

// Where a stream's bytes come from, as DescribeSource reports it.
struct BlobSourceInfo {
  std::uint32_t kind = 0;  // 1: a file named by path
  std::uint32_t reserved1 = 0;
  std::uint32_t reserved2 = 0;
  std::wstring path;
  std::int64_t offset = 0;
  std::int64_t length = -1;  // -1: to the end of the source
};

// Receives the bytes of CopyRangeTo.
class BlobSink {
 public:
  // Answers how many of the count bytes it took. 0 or less stops the copy:
  // that is also how a sink reports that it failed.
  virtual std::int64_t Accept(const void* buffer, std::int64_t count) = 0;

 protected:
  ~BlobSink() = default;
};

// A reference-counted, random-access byte stream with 64-bit offsets. -1 is
// the failure result of every operation; none traces or throws.
class BlobStream : public CountedObject {
 public:
  // The bytes placed in buffer: 0 at or past the end, -1 on failure.
  virtual std::int64_t ReadAt(void* buffer, std::int64_t offset, std::int64_t count) = 0;
  // Copies a range to the sink in chunks of at most 1 MiB: the bytes the
  // sink accepted, or -1 when the very first read failed.
  virtual std::int64_t CopyRangeTo(BlobSink& sink, std::int64_t offset, std::int64_t count) = 0;
  // The length in bytes, or -1.
  virtual std::int64_t GetLength() = 0;
  // Appends one record to the list and answers true, or answers false and
  // appends nothing.
  virtual bool DescribeSource(std::vector<BlobSourceInfo>& list) = 0;
};
