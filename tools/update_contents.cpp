#include "tools/update_contents.h"

#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "archive/archive_source.h"
#include "archive/entry_metadata.h"
#include "archive/entry_set_rule.h"
#include "archive/entry_stream.h"
#include "archive/zip_directory.h"

namespace {

// The reader's name buffer: 259 characters and the terminator.
constexpr std::uint32_t kNameCapacity = 260;
// The DOS header, the PE signature, the file header and the optional
// header's subsystem field all lie within the first pages of an image.
constexpr std::uint32_t kImageHeadBytes = 64 * 1024;

std::uint32_t Little(const unsigned char* at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

bool SamePlace(const std::string& name, const std::string& wanted) {
  const auto a = EntryLevels(std::string_view(name));
  const auto b = EntryLevels(std::string_view(wanted));
  if (a.size() != b.size()) return false;
  const CodePage1252Less less;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (less(a[i], b[i]) || less(b[i], a[i])) return false;
  }
  return true;
}

// The first bytes of the file entry at `wanted`, or false when no file
// entry is there.
bool ReadEntryHead(ArchiveDirectory* directory, const std::string& wanted,
                   std::vector<unsigned char>* head) {
  bool found = false;
  for (std::uint32_t i = 0; i < directory->entryCount; ++i) {
    char name[kNameCapacity] = {};
    if (SeekEntry(directory, i) != DirOk ||
        ReadCentralRecord(directory, name, kNameCapacity) != DirOk) {
      return false;
    }
    const bool isDirectory =
        (AttributesFromExternal(directory->record.externalAttributes) & kAttributeDirectory) != 0;
    if (isDirectory || !SamePlace(name, wanted)) continue;
    // The set rule lets one entry at most make each file.
    found = true;
    head->assign(kImageHeadBytes, 0);
    std::uint32_t filled = 0;
    if (OpenEntryStream(directory) == DirOk) {
      for (std::int32_t got = 0; filled < head->size(); filled += static_cast<std::uint32_t>(got)) {
        got = ReadEntryStream(directory, head->data() + filled,
                              static_cast<std::uint32_t>(head->size()) - filled);
        if (got <= 0) break;
      }
      CloseEntryStream(directory);
    }
    head->resize(filled);
  }
  return found;
}

}  // namespace

const char* UpdateVerdictToken(UpdateVerdict verdict) {
  switch (verdict) {
    case UpdateVerdict::Ok:
      return "accepted";
    case UpdateVerdict::NoUpdater:
      return "no-updater";
    case UpdateVerdict::UpdaterNotImage:
      return "updater-not-gui-program";
    case UpdateVerdict::NoPackage:
      return "no-package";
  }
  return "no-updater";
}

bool IsWindowsGuiImage(const unsigned char* bytes, std::size_t size, UpdateMachine machine,
                       std::string* why) {
  if (size < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') {
    *why = "no MZ header: not a Windows program";
    return false;
  }
  const std::uint32_t pe = Little(bytes + 0x3C, 4);
  // Signature, file header (20 bytes), then the optional header up to its
  // subsystem field at 68.
  if (pe > size || size - pe < 4 + 20 + 70 || std::memcmp(bytes + pe, "PE\0\0", 4) != 0) {
    *why = "no PE header: not a Windows program";
    return false;
  }
  const unsigned char* file = bytes + pe + 4;
  const unsigned char* optional = file + 20;
  const std::uint32_t wantedMachine = machine == UpdateMachine::I686 ? 0x014C : 0x8664;
  const std::uint32_t wantedMagic = machine == UpdateMachine::I686 ? 0x010B : 0x020B;
  const char* machineName = machine == UpdateMachine::I686 ? "i686" : "x64";
  if (Little(file, 2) != wantedMachine || Little(optional, 2) != wantedMagic) {
    *why = std::string("not an image for ") + machineName;
    return false;
  }
  const std::uint32_t characteristics = Little(file + 18, 2);
  if ((characteristics & 0x0002) == 0 || (characteristics & 0x2000) != 0) {
    *why = "not an executable program (a DLL or an object)";
    return false;
  }
  if (Little(optional + 68, 2) != 2) {
    *why = "not of the GUI subsystem: install mode would open a console window";
    return false;
  }
  return true;
}

UpdateReport CheckUpdateContents(const unsigned char* payload, std::uint32_t size,
                                 const std::string& subDirectory, UpdateMachine machine) {
  UpdateReport report;
  std::unique_ptr<ArchiveDirectory> directory = OpenDirectory(OpenMemorySource(payload, size));
  if (!directory) {
    report.verdict = UpdateVerdict::NoUpdater;
    report.message = "the payload does not open as a ZIP archive";
    return report;
  }
  const std::string updater = subDirectory + "/updater.exe";
  const std::string package = subDirectory + "/letterwing.msi";
  std::vector<unsigned char> head;
  std::vector<unsigned char> packageHead;
  std::string why;
  if (!ReadEntryHead(directory.get(), updater, &head)) {
    report.verdict = UpdateVerdict::NoUpdater;
    report.message = "no file entry " + updater + ": prepare would have nothing to schedule";
  } else if (!IsWindowsGuiImage(head.data(), head.size(), machine, &why)) {
    report.verdict = UpdateVerdict::UpdaterNotImage;
    report.message = updater + ": " + why;
  } else if (!ReadEntryHead(directory.get(), package, &packageHead)) {
    report.verdict = UpdateVerdict::NoPackage;
    report.message = "no file entry " + package + ": install mode would have nothing to install";
  }
  CloseDirectory(std::move(directory));
  return report;
}
