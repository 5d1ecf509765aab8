#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fileutil/disk_file.h"
#include "fileutil/file_identity.h"
#include "pack/blob_stream.h"

// A BlobStream over a file opened read-only by path. The file stays open to
// other processes for reading, writing and deletion, so the stream guards
// its reader instead: it takes the file's last-write time at its first
// operation and fails every later read and length query once that time has
// moved (or can no longer be read). A stream whose file could not be opened
// still exists; its operations fail.
class FileBlobStream : public BlobStream {
 public:
  explicit FileBlobStream(const std::wstring& path);
  ~FileBlobStream() override;

  // One positioned read, never completed by a second one: a short read is
  // answered as it is. Holds the stream's lock for the whole call.
  std::int64_t ReadAt(void* buffer, std::int64_t offset, std::int64_t count) override;
  // Reads through ReadAt chunk by chunk (at most 1 MiB in memory); the next
  // read starts at the first byte the sink did not take.
  std::int64_t CopyRangeTo(BlobSink& sink, std::int64_t offset, std::int64_t count) override;
  // Queried once, then cached; still fails once the file has changed.
  std::int64_t GetLength() override;
  bool DescribeSource(std::vector<BlobSourceInfo>& list) override;

  // Which file the stream reads, through its own handle: the file that was
  // read, whatever its path names later, and where it lies (its final
  // path, empty when the platform cannot tell, or without an open file).
  // False without an open file or when the file cannot be identified; the
  // final path is read all the same.
  bool IdentifyFile(FileStamp* stamp, std::wstring* finalPath);

 private:
  // With the lock held: whether the last-write time moved since the stamp
  // was taken. Takes the stamp at the first successful query.
  bool HasChanged();

  CRITICAL_SECTION lock_;
  std::unique_ptr<DiskFile> file_;
  std::int64_t cachedLength_ = -1;
  std::uint64_t writeStamp_;
};
