#include "archive/payload_extraction.h"

#include <windows.h>

#include <memory>
#include <utility>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/entry_set_rule.h"
#include "base/bounded_queue.h"
#include "base/joined_thread.h"
#include "base/slim_lock.h"
#include "base/unique_handle.h"
#include "fileutil/directory_tree.h"
#include "fileutil/file_identity.h"
#include "fileutil/held_directory.h"

namespace {

constexpr DWORD kNormalAndArchive = FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE;

// Creates the file `name` in its held directory, with the final attributes
// from the start, so that an extraction that fails or is killed part-way
// leaves no read-only file in the way of the next one. A file already there
// is deleted through a handle on the name itself and created anew, never
// written into, so a second hard link keeps its contents; a name that is a
// link (or one that is taken but leads nowhere: a dangling link) is
// refused.
std::int32_t CreateEntryFile(const HeldDirectory& directory, const std::wstring& name,
                             UniqueFileHandle* file) {
  const auto codeFor = [](CreateOutcome created) {
    switch (created) {
      case CreateOutcome::Ok:
        return ArchiveOk;
      case CreateOutcome::Misplaced:
      case CreateOutcome::MisplacedKept:
        return LinkInEntryPath;
      // Still taken once the file there was removed: a link that leads
      // nowhere, or a name somebody took again meanwhile.
      case CreateOutcome::Exists:
        return LinkInEntryPath;
      case CreateOutcome::Failed:
        break;
    }
    return FileOpenFailed;
  };
  const CreateOutcome created = directory.CreateNewFile(name, kNormalAndArchive, file);
  if (created != CreateOutcome::Exists) return codeFor(created);
  switch (directory.RemoveFileNamed(name, nullptr)) {
    case RemoveOutcome::Removed:
    case RemoveOutcome::Missing:
      break;
    case RemoveOutcome::Link:
    case RemoveOutcome::Unjudged:
      return LinkInEntryPath;
    case RemoveOutcome::Marked:   // the name stays while another program holds it
    case RemoveOutcome::Refused:  // a read-only file stays as it was
      return FileOpenFailed;
  }
  return codeFor(directory.CreateNewFile(name, kNormalAndArchive, file));
}

std::int32_t CodeFor(OpenOutcome opened) {
  switch (opened) {
    case OpenOutcome::Ok:
      return ArchiveOk;
    case OpenOutcome::Link:
    case OpenOutcome::Unjudged:
      return LinkInEntryPath;
    case OpenOutcome::Missing:
    case OpenOutcome::WrongKind:
    case OpenOutcome::Failed:
      break;
  }
  return FileOpenFailed;
}

std::vector<std::wstring> LevelsOf(const std::wstring& name) {
  return EntryLevels(std::wstring_view(name));
}

// Whether two lists of levels name one place, as the platform's file systems
// compare names.
bool SamePlace(const std::vector<std::wstring>& a, const std::vector<std::wstring>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!SameNameIgnoringCase(a[i], b[i])) return false;
  }
  return true;
}

// Orders paths as the platform's file systems compare names: ordinally, case
// ignored.
struct OrdinalIgnoringCaseLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_LESS_THAN;
  }
};

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
// brings its data, ends; a directory entry is made.
struct WriteStep {
  enum Kind { Begin, Data, End, Directory } kind = Begin;
  EntryInfo info = {};  // Begin, Directory: the entry's name, times and size
  std::unique_ptr<std::uint8_t[]> data;
  std::uint32_t length = 0;
  bool complete = false;  // End: every byte was inflated
};

// The writing thread and its side of the work: reaches each entry's levels
// from the held staging directory, creates the file, writes its pieces,
// gives it its times and closes it, in the order given; makes directory
// entries. The first failure stops it; every later step is dropped, so no
// file of a later entry is created. The thread starts with the object and
// is joined by Finish, or by the destructor on any other path out.
class FileWriter {
 public:
  FileWriter(const HeldDirectory& staging, std::size_t stagingLength, WatchedFiles* watched,
             EntryHook beforeEntry, BoundedQueue<WriteStep>* queue, ChunkPool* pool)
      : levels_(staging), stagingLength_(stagingLength), watched_(watched),
        beforeEntry_(beforeEntry), queue_(queue), pool_(pool) {
    if (watched_ != nullptr) {
      for (WatchedFile& file : *watched_) {
        watchedLevels_.push_back(LevelsOf(file.relativePath));
        file.created = file.hashed = false;
      }
    }
    thread_ = JoinedThread([this] { Run(); });
  }
  ~FileWriter() { Finish(); }

  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // No more steps come: waits until the thread has written what was sent,
  // or stopped at a failure, and answers that failure (ArchiveOk if none).
  std::int32_t Finish() {
    if (thread_.running()) {
      queue_->Finish();
      thread_.Join();
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
        if (beforeEntry_ != nullptr) beforeEntry_(name);
        std::vector<std::wstring> levels = LevelsOf(name);
        // The entry check refused a file named as a directory already.
        if (levels.empty()) {
          failure_ = FileOpenFailed;
          return;
        }
        watching_ = WatchedAt(levels);
        hash_.reset(watching_ != nullptr ? new Sha256 : nullptr);
        const std::wstring fileName = levels.back();
        levels.pop_back();
        failure_ = CodeFor(levels_.Reach(levels, false));
        if (failure_ == ArchiveOk) failure_ = CreateEntryFile(levels_.Deepest(), fileName, &file_);
        return;
      }
      case WriteStep::Data: {
        DWORD done = 0;
        if (!WriteFile(file_.get(), step.data.get(), step.length, &done, nullptr) ||
            done != step.length) {
          failure_ = EntryWriteFailed;
        }
        written_ += done;
        if (hash_) hash_->Add(step.data.get(), done);
        return;
      }
      case WriteStep::End: {
        // A file whose every byte arrived takes the entry's times, also when
        // its CRC-32 then fails, as a file written in one go would.
        if (written_ == info_.uncompressedSize) {
          SetFileTime(file_.get(), &info_.creationTime, &info_.accessTime, &info_.writeTime);
        }
        // The stamp is taken where the file was made: its name may lead
        // elsewhere by the time the caller looks.
        if (watching_ != nullptr && step.complete) {
          watching_->created = ReadFileStamp(file_.get(), &watching_->stamp);
          watching_->hashed = hash_->Finish(&watching_->digest);
        }
        hash_.reset();
        file_.reset();
        if (!step.complete) failure_ = EntryWriteFailed;
        return;
      }
      case WriteStep::Directory: {
        const std::wstring name(step.info.name);
        if (beforeEntry_ != nullptr) beforeEntry_(name);
        // The directories that prepare schedules for deletion by path stay
        // within what the platform's classic calls can name.
        if (stagingLength_ + name.size() >= MAX_PATH) {
          failure_ = PathTooLong;
          return;
        }
        failure_ = CodeFor(levels_.Reach(LevelsOf(name), true));
        return;
      }
    }
  }

  // The watched file an entry's levels name, if any (the set rule lets
  // only one entry make each file).
  WatchedFile* WatchedAt(const std::vector<std::wstring>& levels) const {
    for (std::size_t i = 0; i < watchedLevels_.size(); ++i) {
      if (SamePlace(levels, watchedLevels_[i])) return &(*watched_)[i];
    }
    return nullptr;
  }

  HeldPath levels_;
  const std::size_t stagingLength_;
  WatchedFiles* const watched_;
  std::vector<std::vector<std::wstring>> watchedLevels_;
  WatchedFile* watching_ = nullptr;  // the entry being written, if watched
  std::unique_ptr<Sha256> hash_;
  const EntryHook beforeEntry_;
  BoundedQueue<WriteStep>* queue_;
  ChunkPool* pool_;
  UniqueFileHandle file_;
  EntryInfo info_ = {};
  std::uint64_t written_ = 0;
  std::int32_t failure_ = ArchiveOk;  // the thread's; read after the join
  JoinedThread thread_;
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

}  // namespace

std::int32_t CheckPayloadEntries(ArchiveHandle* archive, WatchedFiles* watched) {
  EntryInfo info = {};
  const std::int32_t counted = GetEntryInfo(archive, -1, &info);
  if (counted != ArchiveOk) return counted;
  const int count = info.index;
  WatchedFiles none;
  if (watched == nullptr) watched = &none;
  std::vector<std::vector<std::wstring>> watchedLevels;
  for (WatchedFile& file : *watched) {
    watchedLevels.push_back(LevelsOf(file.relativePath));
    file.named = false;
  }
  EntrySetCheck<wchar_t, OrdinalIgnoringCaseLess> set;
  for (int i = 0; i < count; ++i) {
    const std::int32_t described = GetEntryInfo(archive, i, &info);
    if (described != ArchiveOk) return described;
    info.name[sizeof info.name / sizeof info.name[0] - 1] = L'\0';
    const std::wstring_view name(info.name);
    if (!IsSafeEntryName(name)) return UnsafeEntryName;
    const bool directory = (info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (set.Add(name, directory).conflict != EntryConflict::None) return ConflictingEntries;
    for (std::size_t w = 0; !directory && w < watched->size(); ++w) {
      if (SamePlace(EntryLevels(name), watchedLevels[w])) (*watched)[w].named = true;
    }
  }
  return ArchiveOk;
}

bool ExtractCheckedPayload(ArchiveHandle* archive, const HeldDirectory& staging,
                           std::size_t stagingLength, WatchedFiles* watched,
                           EntryHook beforeEntry) {
  if (archive == nullptr || !staging.is_held()) return false;
  EntryInfo info = {};
  if (GetEntryInfo(archive, -1, &info) != ArchiveOk) return false;
  const int count = info.index;

  // This thread reads the archive and inflates; the writer's thread makes
  // the directories and files, in the same order, while the next piece is
  // inflated.
  BoundedQueue<WriteStep> queue(kInFlight);
  ChunkPool pool;
  FileWriter writer(staging, stagingLength, watched, beforeEntry, &queue, &pool);
  std::int32_t failure = ArchiveOk;
  for (int i = 0; i < count && failure == ArchiveOk; ++i) {
    const std::int32_t described = GetEntryInfo(archive, i, &info);
    if (described != ArchiveOk) {
      failure = described;
      break;
    }
    info.name[sizeof info.name / sizeof info.name[0] - 1] = L'\0';
    if ((info.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      if (!SendFileEntry(archive, i, info, &queue, &pool)) failure = EntryWriteFailed;
      continue;
    }
    WriteStep directory;
    directory.kind = WriteStep::Directory;
    directory.info = info;
    // Refused only once the writer has stopped at an earlier failure.
    if (!queue.Push(std::move(directory), 1)) break;
  }
  // The writer's failure lies at an earlier entry than anything this thread
  // met after it, which the writer never reached.
  const std::int32_t writeFailure = writer.Finish();
  if (writeFailure != ArchiveOk) failure = writeFailure;
  if (failure != ArchiveOk) LastArchiveError = failure;
  return failure == ArchiveOk;
}

bool ExtractPayload(ArchiveHandle* archive, const std::wstring& stagingDirectory) {
  if (archive == nullptr) return false;
  const std::int32_t judged = CheckPayloadEntries(archive);
  if (judged != ArchiveOk) {
    LastArchiveError = judged;
    return false;
  }
  if (!CreateDirectoryTree(stagingDirectory)) return false;
  HeldDirectory staging;
  if (HeldDirectory::OpenRoot(stagingDirectory, 0, &staging) != OpenOutcome::Ok) return false;
  return ExtractCheckedPayload(archive, staging, stagingDirectory.size());
}

bool HoldUnpackedFile(const WatchedFile& watched, HeldFile* held) {
  std::vector<std::wstring> levels = LevelsOf(watched.relativePath);
  if (!watched.created || levels.empty()) return false;
  const std::wstring name = levels.back();
  levels.pop_back();
  ObjectKind kind = ObjectKind::Unknown;
  FILE_STANDARD_INFO standard;
  FileStamp stamp;
  return held->levels.Reach(levels, false) == OpenOutcome::Ok &&
         held->levels.Deepest().OpenAny(name, GENERIC_READ, &held->file, &kind,
                                        FILE_SHARE_READ) == OpenOutcome::Ok &&
         kind == ObjectKind::File &&
         GetFileInformationByHandleEx(held->file.get(), FileStandardInfo, &standard,
                                      sizeof standard) &&
         standard.NumberOfLinks == 1 && ReadFileStamp(held->file.get(), &stamp) &&
         stamp == watched.stamp;
}
