#pragma once

#include <boost/shared_array.hpp>

#include <cstdint>
#include <string>

#include "archive/archive_reader.h"
#include "fileutil/file_identity.h"
#include "pack/blob_stream.h"

// A loaded update pack: the whole file in memory and its payload opened in
// place as a ZIP archive. Loading happens in one step at construction and
// never throws for bad content: each refusal writes one trace line and
// leaves archive null. The pack file is closed again when construction
// returns, so the caller may delete it while the payload stays usable.
// The payload is hashed by a second thread while the file is read, and that
// thread has ended when construction returns.
class UpdatePack {
 public:
  // How loading gets the buffer for the whole pack: null when the memory
  // cannot be had, which is a failed load ("Pack blob read error"), not an
  // end of the process. The product uses new[]; a test puts in one that
  // refuses, as a 32-bit process does for a pack near 2 GiB, for as long as
  // a ScopedBufferAllocator lives.
  using BufferAllocator = unsigned char* (*)(std::uint32_t size);
  class ScopedBufferAllocator {
   public:
    explicit ScopedBufferAllocator(BufferAllocator allocate);
    ~ScopedBufferAllocator();
    ScopedBufferAllocator(const ScopedBufferAllocator&) = delete;
    ScopedBufferAllocator& operator=(const ScopedBufferAllocator&) = delete;

   private:
    BufferAllocator previous_;
  };

  // The payload's directory entries, and entries with relative targets,
  // are created under rootDirectory, or under the current directory when it
  // is empty.
  explicit UpdatePack(const std::wstring& packPath,
                      const std::wstring& rootDirectory = std::wstring());
  // Closes the archive before the bytes it reads in place are released.
  virtual ~UpdatePack();

  UpdatePack(const UpdatePack&) = delete;
  UpdatePack& operator=(const UpdatePack&) = delete;

  // Unpacks the payload into the staging directory (which ends in a
  // backslash); false without an archive. See archive/payload_extraction.h.
  bool ExtractPayload(const std::wstring& stagingDirectory);

  // The entire file (header, signature, payload) once loading has read it.
  boost::shared_array<unsigned char> packBytes;
  // Present exactly when every check passed and the payload opened.
  ArchiveHandle* archive = nullptr;
  // The file that was read, taken from the handle that read it, for a
  // caller that deletes the pack later: its path may name another file by
  // then. Valid when packFileKnown. packFinalPath is where it lay (empty
  // when the platform could not tell), read whether or not the file could
  // be identified.
  FileStamp packFile;
  std::wstring packFinalPath;
  bool packFileKnown = false;

 private:
  // Reads, checks and opens the pack; the stream reference it is handed is
  // dropped when it returns, on every path.
  void Load(CountedRef<BlobStream> stream, const std::wstring& rootDirectory);
};
