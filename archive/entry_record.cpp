#include "archive/entry_record.h"

#include <string_view>
#include <vector>

#include "archive/archive_result.h"
#include "archive/entry_metadata.h"
#include "archive/entry_name_rule.h"

namespace {

// Days since 1970-01-01 to a proleptic Gregorian date.
void CivilFromDays(std::int64_t days, int* year, int* month, int* day) {
  days += 719468;
  const std::int64_t era = days / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  *day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  *month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  *year = static_cast<int>(yearOfEra + era * 400 + (*month <= 2 ? 1 : 0));
}

}  // namespace

bool UnixTimeToFileTime(std::int32_t seconds, FILETIME* time) {
  if (seconds < 0) return false;
  int year = 0;
  int month = 0;
  int day = 0;
  CivilFromDays(seconds / 86400, &year, &month, &day);
  const std::int32_t secondOfDay = seconds % 86400;
  SYSTEMTIME system = {};
  system.wYear = static_cast<WORD>(year);
  system.wMonth = static_cast<WORD>(month);
  system.wDay = static_cast<WORD>(day);
  system.wHour = static_cast<WORD>(secondOfDay / 3600);
  system.wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
  system.wSecond = static_cast<WORD>(secondOfDay % 60);
  FILETIME converted;
  if (!SystemTimeToFileTime(&system, &converted)) return false;
  *time = converted;
  return true;
}

std::int32_t BuildEntryRecord(ArchiveDirectory* directory, std::uint32_t index, EntryRecord* record) {
  EntryRecord built;
  if (SeekEntry(directory, index) != DirOk) return LocalHeaderMismatch;
  if (ReadCentralRecord(directory, built.name, sizeof built.name) != DirOk) {
    return LocalHeaderMismatch;
  }
  LocalHeaderInfo header;
  if (CheckLocalHeader(directory, &header) != DirOk) return LocalHeaderMismatch;

  ArchiveSource& source = *directory->source;
  if (!SourceSeek(source, directory->bytesBefore + header.extraOffset)) {
    return ExtraFieldReadFailed;
  }
  std::vector<std::uint8_t> extra(header.extraSize);
  if (header.extraSize != 0 && !ReadExact(source, extra.data(), header.extraSize)) {
    return ExtraFieldReadFailed;
  }

  // A name is used whole or not at all: one cut at a zero byte or at the
  // buffer's end would name another file than the archive means.
  const CentralRecord& central = directory->record;
  if (!IsStorableEntryName(std::string_view(built.name, central.nameLength))) {
    return NameNotConvertible;
  }
  // A name flagged as UTF-8 means the same on every machine, and one that
  // is not UTF-8 is refused rather than guessed at; any other name is read
  // in the machine's ANSI code page, as archives without the flag mean.
  const bool utf8 = (central.flags & kFlagUtf8Name) != 0;
  if (MultiByteToWideChar(utf8 ? CP_UTF8 : CP_ACP, utf8 ? MB_ERR_INVALID_CHARS : 0, built.name,
                          -1, built.wideName, 259) == 0) {
    return NameNotConvertible;
  }

  built.index = static_cast<std::int32_t>(directory->cursorNumber);
  built.compressedSize = central.compressedSize;
  built.uncompressedSize = central.uncompressedSize;
  built.attributes = AttributesFromExternal(central.externalAttributes);

  // DOS date and time are taken as they stand, without a time-zone
  // conversion. A value the platform rejects leaves the times at zero,
  // which SetFileTime reads as "leave unchanged".
  FILETIME dosTime = {};
  if (!DosDateTimeToFileTime(HIWORD(central.dosDateTime), LOWORD(central.dosDateTime), &dosTime)) {
    dosTime = FILETIME();
  }
  built.accessTime = built.creationTime = built.writeTime = dosTime;
  ExtendedTimestamp times;
  if (FindExtendedTimestamp(extra.data(), extra.size(), &times)) {
    if (times.hasModification) UnixTimeToFileTime(times.modification, &built.writeTime);
    if (times.hasAccess) UnixTimeToFileTime(times.access, &built.accessTime);
    if (times.hasCreation) UnixTimeToFileTime(times.creation, &built.creationTime);
  }
  *record = built;
  return ArchiveOk;
}
