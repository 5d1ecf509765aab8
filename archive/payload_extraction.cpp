#include "archive/payload_extraction.h"

#include <windows.h>

#include <memory>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "archive/archive_reader.h"
#include "base/bounded_queue.h"
#include "base/slim_lock.h"
#include "base/unique_handle.h"
#include "fileutil/directory_tree.h"
#include "fileutil/file_identity.h"

namespace {

constexpr DWORD kNormalAndArchive = FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE;

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// Tells whether an entry's target, below the staging directory, passes
// through a junction or symbolic link that is already there. Each level is
// looked at in the same spelling the write will use (the staging directory
// followed by a leading part of the name), so that Windows' clean-up of the
// path treats both alike. Levels found to be plain directories are
// remembered: most entries share their parents.
class LinkCheck {
 public:
  explicit LinkCheck(const std::wstring& stagingDirectory) : staging_(stagingDirectory) {}

  // The levels of the name's parent directories, and of the name itself
  // when includeLast is set (a directory entry).
  bool PassesThroughLink(const std::wstring& name, bool includeLast) {
    for (std::size_t end = 1; end <= name.size(); ++end) {
      const bool levelEnds = end == name.size() ? includeLast : IsSeparator(name[end]);
      // A doubled or trailing separator names the level before it again.
      if (!levelEnds || IsSeparator(name[end - 1])) continue;
      const std::wstring level = name.substr(0, end);
      if (plainDirectories_.count(level) != 0) continue;
      const DWORD attributes = GetFileAttributesW((staging_ + level).c_str());
      // Nothing deeper can exist yet; creating it will report what matters.
      if (attributes == INVALID_FILE_ATTRIBUTES) return false;
      if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
      plainDirectories_.insert(level);
    }
    return false;
  }

 private:
  std::wstring staging_;
  std::set<std::wstring> plainDirectories_;
};

// Creates the file of a file entry, with the final attributes from the
// start, so that an extraction that fails or is killed part-way leaves no
// read-only file in the way of the next one. A file that is already there
// is deleted and created anew rather than written into, so a second hard
// link keeps its contents. It is deleted through a handle that opened the
// name itself, and only when the name is not a link: deleting a link that
// the platform does not flag (Wine's Unix links to files) deletes its
// target, so such a name is told by where it resolves to.
std::int32_t CreateEntryFile(const std::wstring& target, UniqueFileHandle* file) {
  const auto create = [&] {
    file->reset(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            kNormalAndArchive, nullptr));
    return file->is_valid();
  };
  if (create()) return ArchiveOk;
  const DWORD reason = GetLastError();
  if (reason != ERROR_FILE_EXISTS && reason != ERROR_ALREADY_EXISTS) return FileOpenFailed;
  switch (RemoveFileItself(target)) {
    case FileRemoval::Removed:
      break;
    case FileRemoval::Link:
    case FileRemoval::Missing:  // the name is taken but leads nowhere: a dangling link
      return LinkInEntryPath;
    case FileRemoval::Refused:  // a read-only file stays as it was
      return FileOpenFailed;
  }
  return create() ? ArchiveOk : FileOpenFailed;
}

// Inflated data goes to the files in pieces of at most this size, and at
// most this much waits for the writing thread.
constexpr std::uint32_t kChunk = 256 << 10;
constexpr std::size_t kInFlight = 1 << 20;

// The pieces' buffers, used again rather than allocated for each piece: a
// fresh block of this size costs its page faults every time.
class ChunkPool {
 public:
  std::unique_ptr<std::uint8_t[]> Take() {
    {
      SlimLock::Hold hold(lock_);
      if (!free_.empty()) {
        std::unique_ptr<std::uint8_t[]> chunk = std::move(free_.back());
        free_.pop_back();
        return chunk;
      }
    }
    return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[kChunk]);
  }

  void Give(std::unique_ptr<std::uint8_t[]> chunk) {
    if (!chunk) return;
    SlimLock::Hold hold(lock_);
    free_.push_back(std::move(chunk));
  }

 private:
  SlimLock lock_;
  std::vector<std::unique_ptr<std::uint8_t[]>> free_;
};

// One step for the writing thread, in archive order: a file entry begins,
// brings its data, ends.
struct WriteStep {
  enum Kind { Begin, Data, End } kind = Begin;
  EntryInfo info = {};  // Begin: the entry's name, times and size
  std::unique_ptr<std::uint8_t[]> data;
  std::uint32_t length = 0;
  bool complete = false;  // End: every byte was inflated
};

// The writing thread and its side of the work: creates each file, writes
// its pieces, gives it its times and closes it, in the order given. The
// first failure stops it; every later step is dropped, so no file of a
// later entry is created. The thread starts with the object and is joined
// by Finish, or by the destructor on any other path out.
class FileWriter {
 public:
  FileWriter(const std::wstring& stagingDirectory, BoundedQueue<WriteStep>* queue,
             ChunkPool* pool)
      : staging_(stagingDirectory), links_(stagingDirectory), queue_(queue), pool_(pool) {
    thread_ = std::thread([this] { Run(); });
  }
  ~FileWriter() { Finish(); }

  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // No more steps come: waits until the thread has written what was sent,
  // or stopped at a failure, and answers that failure (ArchiveOk if none).
  std::int32_t Finish() {
    if (thread_.joinable()) {
      queue_->Finish();
      thread_.join();
    }
    return failure_;
  }

 private:
  void Run() {
    WriteStep step;
    std::size_t bytes = 0;
    while (queue_->Pop(&step, &bytes)) {
      Take(step);
      pool_->Give(std::move(step.data));
      queue_->Release(bytes);
      if (failure_ != ArchiveOk) {
        file_.reset();
        queue_->Close();
        return;
      }
    }
  }

  void Take(WriteStep& step) {
    switch (step.kind) {
      case WriteStep::Begin: {
        info_ = step.info;
        written_ = 0;
        const std::wstring name(step.info.name);
        if (links_.PassesThroughLink(name, false)) {
          failure_ = LinkInEntryPath;
        } else {
          failure_ = CreateEntryFile(staging_ + name, &file_);
        }
        return;
      }
      case WriteStep::Data: {
        DWORD done = 0;
        if (!WriteFile(file_.get(), step.data.get(), step.length, &done, nullptr) ||
            done != step.length) {
          failure_ = EntryWriteFailed;
        }
        written_ += done;
        return;
      }
      case WriteStep::End:
        // A file whose every byte arrived takes the entry's times, also when
        // its CRC-32 then fails, as a file written in one go would.
        if (written_ == info_.uncompressedSize) {
          SetFileTime(file_.get(), &info_.creationTime, &info_.accessTime, &info_.writeTime);
        }
        file_.reset();
        if (!step.complete) failure_ = EntryWriteFailed;
        return;
    }
  }

  const std::wstring staging_;
  LinkCheck links_;
  BoundedQueue<WriteStep>* queue_;
  ChunkPool* pool_;
  UniqueFileHandle file_;
  EntryInfo info_ = {};
  std::uint64_t written_ = 0;
  std::int32_t failure_ = ArchiveOk;  // the thread's; read after the join
  std::thread thread_;
};

// Inflates file entry `index` into pieces for the writer. False when the
// writer has stopped or the entry failed (its End tells the writer so).
bool SendFileEntry(ArchiveHandle* archive, int index, const EntryInfo& info,
                   BoundedQueue<WriteStep>* queue, ChunkPool* pool) {
  WriteStep begin;
  begin.info = info;
  if (!queue->Push(std::move(begin), 1)) return false;
  bool complete = false;
  for (;;) {
    WriteStep piece;
    piece.kind = WriteStep::Data;
    piece.data = pool->Take();
    std::uint32_t delivered = 0;
    const std::int32_t result = ReadEntryData(archive, index, piece.data.get(), kChunk, &delivered);
    if (delivered > 0) {
      piece.length = delivered;
      // Counted at the buffer's size, which is what it holds in memory,
      // also when a small file fills only a little of it.
      if (!queue->Push(std::move(piece), kChunk)) return false;
    } else {
      pool->Give(std::move(piece.data));
    }
    if (result == MoreData) continue;
    complete = result == ArchiveOk;
    break;
  }
  WriteStep end;
  end.kind = WriteStep::End;
  end.complete = complete;
  return queue->Push(std::move(end), 1) && complete;
}

// The identity of a regular file with one name, opened without following a
// final link; false for anything else.
bool IdentifyRegularFile(const std::wstring& path, FileIdentity* identity) {
  const UniqueFileHandle file = OpenNameItself(path, FILE_READ_ATTRIBUTES);
  BY_HANDLE_FILE_INFORMATION information;
  if (!file || !GetFileInformationByHandle(file.get(), &information)) return false;
  const DWORD notRegular = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if ((information.dwFileAttributes & notRegular) != 0 || information.nNumberOfLinks != 1) {
    return false;
  }
  return ReadFileIdentity(file.get(), identity);
}

// The last component of a name, ASCII letters folded, trailing dots and
// blanks dropped as Windows drops them.
std::wstring FoldedLastComponent(const std::wstring& name) {
  std::size_t start = name.size();
  while (start > 0 && !IsSeparator(name[start - 1])) --start;
  std::wstring last = name.substr(start);
  while (!last.empty() && (last.back() == L'.' || last.back() == L' ')) last.pop_back();
  for (wchar_t& c : last) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return last;
}

}  // namespace

bool ExtractPayload(ArchiveHandle* archive, const std::wstring& stagingDirectory) {
  if (archive == nullptr) return false;
  if (!CreateDirectoryTree(stagingDirectory)) return false;

  EntryInfo info = {};
  if (GetEntryInfo(archive, -1, &info) != ArchiveOk) return false;
  const int count = info.index;

  // This thread reads the archive and inflates; the writer's thread creates
  // and writes the files, in the same order, while the next piece is
  // inflated.
  BoundedQueue<WriteStep> queue(kInFlight);
  ChunkPool pool;
  FileWriter writer(stagingDirectory, &queue, &pool);
  LinkCheck links(stagingDirectory);
  std::int32_t failure = ArchiveOk;
  for (int i = 0; i < count && failure == ArchiveOk; ++i) {
    // The name is vetted before anything is written for the entry, so an
    // entry whose description cannot be read is not written either.
    const std::int32_t described = GetEntryInfo(archive, i, &info);
    if (described != ArchiveOk) {
      failure = described;
      break;
    }
    info.name[sizeof info.name / sizeof info.name[0] - 1] = L'\0';
    const std::wstring_view name(info.name);
    if (!IsSafeEntryName(name)) {
      failure = UnsafeEntryName;
      break;
    }
    if ((info.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      if (!SendFileEntry(archive, i, info, &queue, &pool)) failure = EntryWriteFailed;
      continue;
    }
    // A directory is made once every file before it is written, so that
    // nothing of a later entry appears after an earlier one failed.
    if (!queue.WaitEmpty()) break;
    if (links.PassesThroughLink(info.name, true)) {
      failure = LinkInEntryPath;
      break;
    }
    // The name is appended as it stands: ZIP names keep their '/'.
    const std::wstring target = stagingDirectory + info.name;
    // Created by the reader under its root, the staging directory.
    const std::int32_t made = ExtractEntry(archive, i, target.c_str(), 0, TargetFileName);
    if (made != ArchiveOk) {
      failure = made;
      break;
    }
    SetFileAttributesW(target.c_str(), kNormalAndArchive);
  }
  // The writer's failure lies at an earlier entry than anything this thread
  // met after it, which the writer never reached.
  const std::int32_t writeFailure = writer.Finish();
  if (writeFailure != ArchiveOk) failure = writeFailure;
  if (failure != ArchiveOk) LastArchiveError = failure;
  return failure == ArchiveOk;
}

bool IsUnpackedFile(ArchiveHandle* archive, const std::wstring& stagingDirectory,
                    const std::wstring& path) {
  FileIdentity wanted;
  if (archive == nullptr || !IdentifyRegularFile(path, &wanted)) return false;
  EntryInfo info = {};
  if (GetEntryInfo(archive, -1, &info) != ArchiveOk) return false;
  const int count = info.index;
  const std::wstring lastComponent = FoldedLastComponent(path);
  for (int i = 0; i < count; ++i) {
    if (GetEntryInfo(archive, i, &info) != ArchiveOk) return false;
    info.name[sizeof info.name / sizeof info.name[0] - 1] = L'\0';
    if ((info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    // Only entries that could have made a file of that name are opened.
    if (FoldedLastComponent(info.name) != lastComponent) continue;
    FileIdentity written;
    if (IdentifyRegularFile(stagingDirectory + info.name, &written) && written == wanted) {
      return true;
    }
  }
  return false;
}
