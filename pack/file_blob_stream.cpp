#include "pack/file_blob_stream.h"

#include "fileutil/file_operations.h"
#include "pack/disk_file_io.h"
#include "pack/scratch_buffer.h"

namespace {

constexpr std::int64_t kCopyChunk = 0x100000;

class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION& section) : section_(section) {
    EnterCriticalSection(&section_);
  }
  ~CriticalSectionLock() { LeaveCriticalSection(&section_); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

}  // namespace

FileBlobStream::FileBlobStream(const std::wstring& path) : writeStamp_(kNoFileTime) {
  InitializeCriticalSection(&lock_);
  file_ = OpenDiskFile(path, Read, OpenExisting);
}

FileBlobStream::~FileBlobStream() {
  if (file_) CloseDiskFile(*file_);
  file_.reset();
  DeleteCriticalSection(&lock_);
}

bool FileBlobStream::IdentifyFile(FileStamp* stamp, std::wstring* finalPath) {
  CriticalSectionLock hold(lock_);
  finalPath->clear();
  if (!file_) return false;
  *finalPath = FinalPathOf(file_->handle.get());
  return ReadFileStamp(file_->handle.get(), stamp);
}

bool FileBlobStream::HasChanged() {
  const std::uint64_t now = ReadLastWriteTime(file_->path);
  if (writeStamp_ == kNoFileTime) {
    writeStamp_ = now;
    return false;
  }
  return now != writeStamp_;
}

std::int64_t FileBlobStream::ReadAt(void* buffer, std::int64_t offset, std::int64_t count) {
  CriticalSectionLock hold(lock_);
  if (!file_) return -1;
  if (!SetPosition(*file_, offset, SeekFromStart)) return -1;
  const std::int64_t read = ReadBytes(*file_, buffer, count);
  if (HasChanged()) return -1;
  return read;
}

std::int64_t FileBlobStream::CopyRangeTo(BlobSink& sink, std::int64_t offset, std::int64_t count) {
  if (count <= 0) return 0;
  std::int64_t chunk = count <= kCopyChunk ? count : kCopyChunk;
  ScratchBuffer scratch;
  scratch.Resize(static_cast<std::uint64_t>(chunk));
  std::int64_t total = 0;
  while (count > 0) {
    const std::int64_t read = ReadAt(scratch.data(), offset, chunk);
    if (read < 0) {
      if (total == 0) total = -1;
      break;
    }
    if (read == 0) break;
    std::int64_t accepted = sink.Accept(scratch.data(), read);
    if (accepted <= 0) break;
    // A sink cannot take more than it was given.
    if (accepted > read) accepted = read;
    total += accepted;
    offset += accepted;
    count -= accepted;
    if (count < chunk) chunk = count;
  }
  return total;
}

std::int64_t FileBlobStream::GetLength() {
  CriticalSectionLock hold(lock_);
  if (cachedLength_ != -1) return HasChanged() ? -1 : cachedLength_;
  if (!file_) return -1;
  const std::int64_t size = QuerySize(*file_);
  if (HasChanged()) return -1;
  cachedLength_ = size;
  return size;
}

bool FileBlobStream::DescribeSource(std::vector<BlobSourceInfo>& list) {
  if (!file_ || file_->path.empty()) return false;
  BlobSourceInfo info;
  info.kind = 1;
  info.path = file_->path;
  list.push_back(info);
  return true;
}
