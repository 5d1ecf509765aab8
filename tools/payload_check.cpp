#include "tools/payload_check.h"

#include <algorithm>
#include <string_view>

#include "archive/archive_source.h"
#include "archive/entry_metadata.h"
#include "archive/entry_name_rule.h"
#include "archive/entry_set_rule.h"
#include "archive/entry_stream.h"
#include "archive/zip_directory.h"
#include "tools/entry_name_rules.h"

namespace {

// The reader's name buffer: 259 characters and the terminator.
constexpr std::uint32_t kNameCapacity = 260;

PayloadReport Refuse(PayloadReport report, PayloadVerdict verdict, const std::string& message) {
  report.verdict = verdict;
  report.message = message;
  return report;
}

}  // namespace

PayloadReport CheckPayload(const unsigned char* data, std::uint32_t size,
                           const NameDecoder& names) {
  PayloadReport report;
  std::unique_ptr<ArchiveDirectory> directory = OpenDirectory(OpenMemorySource(data, size));
  if (!directory) {
    return Refuse(report, PayloadVerdict::NotAnArchive,
                  "the payload does not open as a ZIP archive (status " +
                      std::to_string(DirectoryOpenStatus) + ")");
  }
  struct Closer {
    std::unique_ptr<ArchiveDirectory>& directory;
    ~Closer() { CloseDirectory(std::move(directory)); }
  } closer{directory};

  EntrySetCheck<char16_t, FoldedUnitsLess> set;
  std::vector<unsigned char> buffer(kEntryInputBufferSize);
  for (std::uint32_t i = 0; i < directory->entryCount; ++i) {
    const std::string where = "entry " + std::to_string(i);
    char nameBytes[kNameCapacity] = {};
    if (SeekEntry(directory.get(), i) != DirOk ||
        ReadCentralRecord(directory.get(), nameBytes, kNameCapacity) != DirOk) {
      return Refuse(report, PayloadVerdict::BadEntry,
                    where + ": its central directory record cannot be read");
    }
    const CentralRecord record = directory->record;
    PayloadEntry entry;
    entry.name.assign(nameBytes, std::min<std::size_t>(record.nameLength, kNameCapacity));
    entry.method = record.method;
    entry.externalAttributes = record.externalAttributes;
    entry.compressedSize = record.compressedSize;
    entry.uncompressedSize = record.uncompressedSize;
    entry.crc32 = record.crc32;
    entry.directory = (AttributesFromExternal(record.externalAttributes) & kAttributeDirectory) != 0;
    entry.utf8Name = (record.flags & kFlagUtf8Name) != 0;
    entry.dependsOnCodePage = DependsOnCodePage(entry.name, entry.utf8Name);
    report.entries.push_back(entry);

    LocalHeaderInfo local;
    if (CheckLocalHeader(directory.get(), &local) != DirOk) {
      return Refuse(report, PayloadVerdict::BadEntry,
                    where + ": its local header does not match its central record");
    }
    if (local.extraOffset + local.extraSize > size) {
      return Refuse(report, PayloadVerdict::BadEntry, where + ": its extra field runs past the end");
    }
    ExtendedTimestamp times;
    if (FindExtendedTimestamp(data + local.extraOffset, local.extraSize, &times) &&
        times.hasModification) {
      report.entries.back().hasModificationTime = true;
      report.entries.back().modificationTime = static_cast<std::uint32_t>(times.modification);
    }
    // The program takes a stored name whole or refuses it; the same rule on
    // the same bytes, then the rule on what the name would name.
    if (!IsStorableEntryName(entry.name)) {
      const char* why = record.nameLength > kLongestEntryName ? "is 259 bytes or longer"
                        : record.nameLength == 0               ? "is empty"
                                                               : "holds a zero byte";
      return Refuse(report, PayloadVerdict::BadEntry, where + ": its name " + why);
    }
    std::u16string decoded;
    if (!names.Decode(entry.name, entry.utf8Name, &decoded)) {
      return Refuse(report, PayloadVerdict::BadEntry,
                    where + ": its name cannot be decoded " +
                        (entry.utf8Name ? std::string("as UTF-8, as its flag says")
                                        : "in code page " + std::to_string(names.codePage())));
    }
    // Judged as decoded: separators, devices and lengths are those of the
    // characters the program sees, not of the bytes.
    const std::u16string_view name(decoded);
    if (!IsEntryNameContained(name)) {
      return Refuse(report, PayloadVerdict::UnsafeName,
                    where + " \"" + entry.name + "\": the name leads outside the staging directory");
    }
    if (NamesReservedDevice(name)) {
      return Refuse(report, PayloadVerdict::UnsafeName,
                    where + " \"" + entry.name + "\": the name is a Windows device name");
    }
    if (HoldsForbiddenCharacter(name)) {
      return Refuse(report, PayloadVerdict::UnsafeName,
                    where + " \"" + entry.name +
                        "\": the name holds a character Windows cannot store in a name");
    }
    if (!IsSafeEntryName(name)) {
      return Refuse(report, PayloadVerdict::UnsafeName,
                    where + " \"" + entry.name +
                        "\": a component ends in a dot or blank, which Windows drops");
    }
    const EntrySetVerdict& verdict = set.Add(name, entry.directory);
    if (verdict.conflict != EntryConflict::None) {
      std::string text = where + " \"" + entry.name + "\": " + EntryConflictText(verdict.conflict);
      if (verdict.other != i) {
        text += " (entry " + std::to_string(verdict.other) + ")";
      }
      return Refuse(report, PayloadVerdict::BadEntry, text);
    }
  }

  // Then the data, as the program reads it once every entry has passed.
  for (std::uint32_t i = 0; i < directory->entryCount; ++i) {
    const PayloadEntry& entry = report.entries[i];
    if (entry.directory) continue;
    const std::string where = "entry " + std::to_string(i) + " \"" + entry.name + "\"";
    // The failing entry is the last one reported.
    const auto refuse = [&](const std::string& why) {
      report.entries.resize(i + 1);
      return Refuse(report, PayloadVerdict::BadEntry, where + ": " + why);
    };
    char nameBytes[kNameCapacity] = {};
    if (SeekEntry(directory.get(), i) != DirOk ||
        ReadCentralRecord(directory.get(), nameBytes, kNameCapacity) != DirOk ||
        OpenEntryStream(directory.get()) != DirOk) {
      return refuse("its data cannot be opened");
    }
    for (;;) {
      const std::int32_t got = ReadEntryStream(directory.get(), buffer.data(),
                                               static_cast<std::uint32_t>(buffer.size()));
      if (got < 0) {
        CloseEntryStream(directory.get());
        return refuse("its data cannot be read");
      }
      if (got == 0) break;
    }
    if (CloseEntryStream(directory.get()) != DirOk) return refuse("CRC-32 mismatch");
  }
  return report;
}
