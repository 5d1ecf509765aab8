#pragma once

#include <windows.h>

#include <string>

#include "base/sha256.h"
#include "fileutil/file_identity.h"

// What prepare records of the update it scheduled, for install mode to
// check at logon: the SHA-256 of the sub-directory's "letterwing.msi" as it
// was written from the verified payload (or that the payload had none),
// tied to the staged updater.exe that was checked, so that install mode
// applies it only when the updater running is that very file (a record
// left by another update, or no record from an earlier version of the
// program, then does not apply).
//
// HKLM\Software\Letterwing\Updater (product_key.h), values
// "PackageSha256" (REG_BINARY, 32 bytes; none when the payload had no
// package) and "UpdaterStamp" (REG_BINARY, 40 bytes: the volume serial
// number, the 128-bit file id, the size and the last-write time, each
// little-endian). Each write gives the key its access list.

struct PackageRecord {
  FileStamp updater;
  bool hasPackage = false;
  Sha256::Digest packageDigest = {};
};

// Replaces the record; false when the key cannot be created or protected,
// or a value cannot be written.
bool WritePackageRecord(const PackageRecord& record);

// Reads the record; false when there is none or it is not whole.
bool ReadPackageRecord(PackageRecord* record);
