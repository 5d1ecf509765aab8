#include "tools/payload_builder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "archive/entry_set_rule.h"
#include "pack/pack_header.h"
#include "pack/public_key_blob.h"
#include "tools/entry_name_rules.h"
#include "tools/name_decoding.h"

namespace {

constexpr zip_uint16_t kExtendedTimestampId = 0x5455;  // "UT"
constexpr zip_uint32_t kMsDosDirectory = 0x10;
constexpr zip_uint32_t kMsDosArchive = 0x20;

struct SourceDeleter {
  void operator()(zip_source_t* source) const { zip_source_free(source); }
};
struct ArchiveDiscarder {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using UniqueSource = std::unique_ptr<zip_source_t, SourceDeleter>;
using UniqueArchive = std::unique_ptr<zip_t, ArchiveDiscarder>;

struct TreeEntry {
  std::string name;  // relative, '/'-separated, directories end in '/'
  std::string path;  // on the publisher's file system
  bool directory = false;
  mode_t mode = 0;
  std::int64_t modified = 0;
};

// DOS date (high half) and time (low half) of a UTC time; 1980 at the
// earliest, as DOS dates begin there.
void ToDosDateTime(std::int64_t unixTime, zip_uint16_t* date, zip_uint16_t* time) {
  const std::time_t seconds = static_cast<std::time_t>(unixTime);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  if (utc.tm_year < 80) {
    *date = (1 << 5) | 1;
    *time = 0;
    return;
  }
  *date = static_cast<zip_uint16_t>(((utc.tm_year - 80) << 9) | ((utc.tm_mon + 1) << 5) |
                                    utc.tm_mday);
  *time = static_cast<zip_uint16_t>((utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2));
}

bool CollectTree(const std::string& directory, const std::string& prefix,
                 std::vector<TreeEntry>* entries, std::vector<std::string>* notes,
                 std::string* error) {
  DIR* handle = opendir(directory.c_str());
  if (handle == nullptr) {
    *error = "cannot read directory " + directory + ": " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* item = readdir(handle)) {
    const std::string name = item->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  const int readError = errno;
  closedir(handle);
  if (readError != 0) {
    *error = "cannot read directory " + directory + ": " + std::strerror(readError);
    return false;
  }
  std::sort(names.begin(), names.end());

  for (const std::string& name : names) {
    TreeEntry entry;
    entry.path = directory + "/" + name;
    struct stat info;
    if (lstat(entry.path.c_str(), &info) != 0) {
      *error = "cannot read " + entry.path + ": " + std::strerror(errno);
      return false;
    }
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) {
      *error = entry.path + ": only regular files and directories can be packed";
      return false;
    }
    entry.directory = S_ISDIR(info.st_mode);
    entry.name = prefix + name + (entry.directory ? "/" : "");
    entry.mode = info.st_mode;
    entry.modified = info.st_mtim.tv_sec;
    std::string reason = CheckTreeComponent(name);
    if (reason.empty()) reason = CheckEntryName(entry.name);
    // A name that is not plain ASCII is noted and the walk goes on, so that
    // every such name is named; the tree is refused at the end.
    if (DependsOnCodePage(entry.name, false)) {
      if (DependsOnCodePage(name, false)) notes->push_back(entry.path + ": " + reason);
      reason.clear();
    }
    if (!reason.empty()) {
      *error = entry.path + ": " + reason;
      return false;
    }
    if (entry.modified < 0 || entry.modified > 0x7FFFFFFF) {
      *error = entry.path + ": modification time outside 1970..2038";
      return false;
    }
    entries->push_back(entry);
    if (entry.directory && !CollectTree(entry.path, entry.name, entries, notes, error)) {
      return false;
    }
  }
  return true;
}

std::string ZipError(zip_t* archive) { return zip_strerror(archive); }

bool AddEntry(zip_t* archive, const TreeEntry& entry, std::string* error) {
  zip_int64_t index;
  if (entry.directory) {
    index = zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_RAW);
  } else {
    zip_source_t* source = zip_source_file(archive, entry.path.c_str(), 0, -1);
    if (source == nullptr) {
      *error = entry.path + ": " + ZipError(archive);
      return false;
    }
    index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_RAW);
    if (index < 0) zip_source_free(source);
  }
  if (index < 0) {
    *error = entry.path + ": " + ZipError(archive);
    return false;
  }
  const zip_uint64_t at = static_cast<zip_uint64_t>(index);
  const zip_uint32_t unixMode = (entry.directory ? S_IFDIR : S_IFREG) | (entry.mode & 07777);
  const zip_uint32_t attributes =
      (unixMode << 16) | (entry.directory ? kMsDosDirectory : kMsDosArchive);
  zip_uint16_t dosDate = 0;
  zip_uint16_t dosTime = 0;
  ToDosDateTime(entry.modified, &dosDate, &dosTime);
  zip_uint8_t timestamp[5] = {1};  // flags: modification time only
  const std::uint32_t modified = static_cast<std::uint32_t>(entry.modified);
  for (int i = 0; i < 4; ++i) timestamp[1 + i] = static_cast<zip_uint8_t>(modified >> (8 * i));
  if (zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX, attributes) != 0 ||
      zip_file_set_dostime(archive, at, dosTime, dosDate, 0) != 0 ||
      zip_file_extra_field_set(archive, at, kExtendedTimestampId, ZIP_EXTRA_FIELD_NEW, timestamp,
                               sizeof timestamp, ZIP_FL_LOCAL | ZIP_FL_CENTRAL) < 0 ||
      zip_set_file_compression(archive, at, entry.directory ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                               9) != 0) {
    *error = entry.path + ": " + ZipError(archive);
    return false;
  }
  return true;
}

bool ReadSource(zip_source_t* source, std::vector<unsigned char>* bytes, std::string* error) {
  zip_stat_t info;
  if (zip_source_stat(source, &info) != 0 || !(info.valid & ZIP_STAT_SIZE) ||
      zip_source_open(source) != 0) {
    *error = "cannot read back the archive";
    return false;
  }
  // Room for the header and signature: the pack as a whole must stay below
  // 2 GiB.
  if (info.size > kMaxPackSize - kPackHeaderSize - kSignatureSize) {
    zip_source_close(source);
    *error = "payload is 2 GiB or more";
    return false;
  }
  bytes->resize(static_cast<std::size_t>(info.size));
  const zip_int64_t got = zip_source_read(source, bytes->data(), info.size);
  zip_source_close(source);
  if (got < 0 || static_cast<zip_uint64_t>(got) != info.size) {
    *error = "cannot read back the archive";
    return false;
  }
  return true;
}

}  // namespace

bool BuildPayloadFromTree(const std::string& root, std::vector<unsigned char>* payload,
                          std::string* error, std::vector<std::string>* notes) {
  struct stat info;
  if (stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = "not a directory: " + root;
    return false;
  }
  std::vector<TreeEntry> entries;
  std::vector<std::string> ownNotes;
  if (notes == nullptr) notes = &ownNotes;
  if (!CollectTree(root, std::string(), &entries, notes, error)) return false;
  if (!notes->empty()) {
    *error = std::to_string(notes->size()) +
             " name(s) not plain ASCII: what they name would depend on the installing "
             "machine's code page";
    return false;
  }
  if (entries.empty()) {
    *error = "the directory is empty; a payload needs at least one entry";
    return false;
  }
  // Names that a case-sensitive file system keeps apart are one place on
  // Windows, where the later entry would replace the earlier; and names
  // Windows' file systems cannot keep as given.
  EntrySetCheck<char, CodePage1252Less> set;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const EntrySetVerdict& verdict = set.Add(entries[i].name, entries[i].directory);
    if (verdict.conflict == EntryConflict::None) continue;
    *error = entries[i].name + ": " +
             (verdict.other == i ? EntryConflictText(verdict.conflict)
                                 : "names the same place as " + entries[verdict.other].name +
                                       " on Windows, which ignores case in names");
    return false;
  }

  zip_error_t zipError;
  zip_error_init(&zipError);
  UniqueSource buffer(zip_source_buffer_create(nullptr, 0, 0, &zipError));
  if (!buffer) {
    *error = zip_error_strerror(&zipError);
    zip_error_fini(&zipError);
    return false;
  }
  // The archive releases its source when it is closed or discarded; the
  // extra reference keeps the written bytes readable afterwards.
  zip_source_keep(buffer.get());
  UniqueArchive archive(zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &zipError));
  if (!archive) {
    zip_source_free(buffer.get());
    *error = zip_error_strerror(&zipError);
    zip_error_fini(&zipError);
    return false;
  }
  zip_error_fini(&zipError);
  for (const TreeEntry& entry : entries) {
    if (!AddEntry(archive.get(), entry, error)) return false;
  }
  if (zip_close(archive.get()) != 0) {
    *error = "cannot write the archive: " + ZipError(archive.get());
    return false;
  }
  archive.release();
  return ReadSource(buffer.get(), payload, error);
}
