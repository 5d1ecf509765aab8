#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pack/pack_header.h"
#include "pack/public_key_blob.h"
#include "tools/entry_name_rules.h"
#include "tools/file_bytes.h"
#include "tools/name_decoding.h"
#include "tools/pack_maker.h"
#include "tools/pack_verifier.h"
#include "tools/payload_builder.h"
#include "tools/payload_check.h"
#include "tools/signing_key.h"
#include "tools/update_contents.h"

namespace {

// Exit codes, stable for release pipelines.
enum ExitCode {
  kExitOk = 0,
  kExitUsage = 1,
  kExitFileError = 2,      // an input could not be read or an output written
  kExitBadKey = 3,         // a key file is not a usable key of the format
  kExitInputRefused = 4,   // the tree or ZIP holds what the program cannot unpack
  kExitHeaderRefused = 5,  // verify: length, size, magic, version or signature length
  kExitSignRefused = 6,    // verify: the signature does not verify
  kExitPayloadRefused = 7, // verify: the payload does not open or unpack
  // --sub: what an update must hold (update_contents.h).
  kExitNoUpdater = 8,        // no <sub>/updater.exe
  kExitUpdaterNotImage = 9,  // updater.exe is no GUI program for the machine
  kExitNoPackage = 10,       // no <sub>/letterwing.msi
};

const char kUsage[] =
    "usage:\n"
    "  packtool keygen <private.pem> <public.blob>\n"
    "      Makes a 2048-bit RSA key pair: the private key as PEM, the public\n"
    "      half as the 276-byte blob that updater.exe embeds. Existing files\n"
    "      are never overwritten.\n"
    "  packtool build [--sub <dir> [--machine i686|x64]] <directory> <private.pem> <out.pack>\n"
    "      Packs a directory tree as the payload and signs it.\n"
    "  packtool wrap [--unchecked] <payload.zip> <private.pem> <out.pack>\n"
    "      Signs an existing ZIP file as the payload. It is first read the way\n"
    "      updater.exe unpacks it; --unchecked skips that (for test packs only).\n"
    "  packtool verify [--sub <dir> [--machine i686|x64]] [--codepage <n>] <pack> <public.blob>\n"
    "      Checks a pack as updater.exe does, in the same order, and lists its\n"
    "      header and entries. The line \"verdict: <word> (code page <n>)\" gives\n"
    "      the outcome: accepted, length-error, too-small, magic-mismatch,\n"
    "      version-mismatch, sign-error, archive-error, unsafe-name or\n"
    "      entry-error; with --sub also no-updater, updater-not-gui-program or\n"
    "      no-package.\n"
    "  --codepage <n>: the installing machine's ANSI code page, in which\n"
    "      updater.exe reads names without the UTF-8 flag (1252 unless given;\n"
    "      any code page iconv knows as CP<n>, such as 932, 936, 949 or 950).\n"
    "      A note line names each entry whose meaning depends on it.\n"
    "  --sub <dir>: the payload must also hold what an update installs from,\n"
    "      the sub-directory given to prepare: <dir>/updater.exe, a Windows GUI\n"
    "      program for the machine (--machine, i686 unless x64 is given), and\n"
    "      <dir>/letterwing.msi, both as files.\n"
    "\n"
    "Exit codes:\n"
    "  0  done; for verify, the pack is accepted\n"
    "  1  usage error\n"
    "  2  a file could not be read or written\n"
    "  3  a key file is not a 2048-bit RSA key (exponent 65537) of the format\n"
    "  4  build or wrap: the input holds what updater.exe cannot unpack\n"
    "  5  verify: refused by length or header\n"
    "  6  verify: refused by signature\n"
    "  7  verify: the payload does not open or unpack\n"
    "  8  --sub: no <dir>/updater.exe\n"
    "  9  --sub: <dir>/updater.exe is no Windows GUI program for the machine\n"
    "  10 --sub: no <dir>/letterwing.msi\n"
    "\n"
    "Errors are one line on standard error, beginning with \"packtool: \".\n"
    "Output files are written completely or not at all.\n";

// --sub, --machine and --codepage, where given.
struct UpdateOptions {
  bool given = false;
  std::string subDirectory;
  UpdateMachine machine = UpdateMachine::I686;
  unsigned codePage = 1252;
};

// Takes --sub, --machine and (where `codePage`) --codepage from the
// arguments after the command; false for a malformed option.
bool TakeUpdateOptions(std::vector<std::string>* args, UpdateOptions* options, bool codePage) {
  bool machineGiven = false;
  while (args->size() >= 3 && (*args)[1].compare(0, 2, "--") == 0) {
    const std::string option = (*args)[1];
    const std::string value = (*args)[2];
    if (option == "--sub") {
      options->given = true;
      options->subDirectory = value;
    } else if (option == "--machine" && (value == "i686" || value == "x64")) {
      machineGiven = true;
      options->machine = value == "x64" ? UpdateMachine::X64 : UpdateMachine::I686;
    } else if (option == "--codepage" && codePage && !value.empty() && value.size() <= 5 &&
               value.find_first_not_of("0123456789") == std::string::npos) {
      options->codePage = static_cast<unsigned>(std::stoul(value));
    } else {
      return false;
    }
    args->erase(args->begin() + 1, args->begin() + 3);
  }
  return options->given || !machineGiven;
}

int ExitFor(UpdateVerdict verdict) {
  switch (verdict) {
    case UpdateVerdict::Ok:
      return kExitOk;
    case UpdateVerdict::NoUpdater:
      return kExitNoUpdater;
    case UpdateVerdict::UpdaterNotImage:
      return kExitUpdaterNotImage;
    case UpdateVerdict::NoPackage:
      return kExitNoPackage;
  }
  return kExitNoUpdater;
}

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "packtool: %s\n", message.c_str());
  return code;
}

int Usage() {
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

bool LoadKey(const std::string& path, PrivateKey* key, int* code, std::string* error) {
  std::vector<unsigned char> pem;
  if (!ReadWholeFile(path, &pem, error)) {
    *code = kExitFileError;
    return false;
  }
  *key = LoadPrivateKey(std::string(pem.begin(), pem.end()), error);
  if (!*key) {
    *error = path + ": " + *error;
    *code = kExitBadKey;
    return false;
  }
  return true;
}

int WritePack(const std::vector<unsigned char>& payload, const PrivateKey& key,
              const std::string& out) {
  std::vector<unsigned char> pack;
  std::string error;
  if (!MakePack(payload, key, &pack, &error)) return Fail(kExitInputRefused, error);
  if (!WriteWholeFile(out, pack.data(), pack.size(), false, WriteMode::Replace, &error)) {
    return Fail(kExitFileError, error);
  }
  std::printf("wrote %s: %zu bytes, payload %zu bytes\n", out.c_str(), pack.size(),
              payload.size());
  return kExitOk;
}

int RunKeygen(const std::string& privatePath, const std::string& publicPath) {
  std::string pem;
  std::vector<unsigned char> blob;
  std::string error;
  if (!GenerateKeyPair(&pem, &blob, &error)) return Fail(kExitBadKey, error);
  // An existing key is never replaced: losing a release key cannot be
  // undone. The public half goes first, so a refused private key leaves
  // nothing new behind but a public blob that matches no key.
  if (!WriteWholeFile(publicPath, blob.data(), blob.size(), false, WriteMode::KeepExisting,
                      &error)) {
    return Fail(kExitFileError, error);
  }
  if (!WriteWholeFile(privatePath, reinterpret_cast<const unsigned char*>(pem.data()), pem.size(),
                      true, WriteMode::KeepExisting, &error)) {
    unlink(publicPath.c_str());
    return Fail(kExitFileError, error);
  }
  std::printf("wrote %s and %s\n", privatePath.c_str(), publicPath.c_str());
  return kExitOk;
}

int RunBuild(const UpdateOptions& update, const std::string& directory,
             const std::string& keyPath, const std::string& out) {
  PrivateKey key;
  int code = kExitOk;
  std::string error;
  if (!LoadKey(keyPath, &key, &code, &error)) return Fail(code, error);
  std::vector<unsigned char> payload;
  std::vector<std::string> notes;
  if (!BuildPayloadFromTree(directory, &payload, &error, &notes)) {
    for (const std::string& note : notes) std::fprintf(stderr, "packtool: %s\n", note.c_str());
    return Fail(kExitInputRefused, error);
  }
  if (update.given) {
    const UpdateReport report =
        CheckUpdateContents(payload.data(), static_cast<std::uint32_t>(payload.size()),
                            update.subDirectory, update.machine);
    if (report.verdict != UpdateVerdict::Ok) {
      return Fail(ExitFor(report.verdict), directory + ": " + report.message);
    }
  }
  return WritePack(payload, key, out);
}

int RunWrap(bool checked, const std::string& zipPath, const std::string& keyPath,
            const std::string& out) {
  PrivateKey key;
  int code = kExitOk;
  std::string error;
  if (!LoadKey(keyPath, &key, &code, &error)) return Fail(code, error);
  std::vector<unsigned char> payload;
  if (!ReadWholeFile(zipPath, &payload, &error)) return Fail(kExitFileError, error);
  if (payload.size() > kMaxPackSize - kPackHeaderSize - kSignatureSize) {
    return Fail(kExitInputRefused, zipPath + ": payload is 2 GiB or more");
  }
  if (checked) {
    const PayloadReport report =
        CheckPayload(payload.data(), static_cast<std::uint32_t>(payload.size()));
    if (report.verdict != PayloadVerdict::Ok) {
      return Fail(kExitInputRefused, zipPath + ": " + report.message);
    }
    for (const PayloadEntry& entry : report.entries) {
      const std::string reason = CheckEntryName(entry.name);
      if (!reason.empty()) {
        return Fail(kExitInputRefused, zipPath + ": \"" + entry.name + "\": " + reason);
      }
    }
  }
  return WritePack(payload, key, out);
}

void PrintEntries(const PayloadReport& payload) {
  for (std::size_t i = 0; i < payload.entries.size(); ++i) {
    const PayloadEntry& entry = payload.entries[i];
    std::printf("entry %zu: %s %s method %u, %u -> %u bytes, crc %08x, attributes 0x%08x",
                i, entry.directory ? "dir " : "file", entry.name.c_str(), entry.method,
                entry.compressedSize, entry.uncompressedSize, entry.crc32,
                entry.externalAttributes);
    if (entry.hasModificationTime) std::printf(", modified %u", entry.modificationTime);
    if (entry.utf8Name) std::printf(", UTF-8 name");
    std::printf("\n");
    if (entry.dependsOnCodePage) {
      std::printf("note: entry %zu: the name has bytes of 0x80 or above and no UTF-8 flag: what "
                  "it names depends on the installing machine's code page\n",
                  i);
    }
  }
}

int RunVerify(const UpdateOptions& update, const std::string& packPath,
              const std::string& keyPath) {
  const NameDecoder names(update.codePage);
  if (!names.known()) {
    std::fputs(kUsage, stderr);
    return Fail(kExitUsage, "code page " + std::to_string(update.codePage) +
                                " is not one iconv knows (as CP" +
                                std::to_string(update.codePage) + ")");
  }
  const std::string assumed = " (code page " + std::to_string(update.codePage) + ")";
  std::vector<unsigned char> blob;
  std::string error;
  if (!ReadWholeFile(keyPath, &blob, &error)) return Fail(kExitFileError, error);
  PublicKeyParts key;
  if (!ParsePublicKeyBlob(blob.data(), blob.size(), &key)) {
    return Fail(kExitBadKey, keyPath + ": not a 276-byte public key blob of the format");
  }

  struct stat info;
  if (stat(packPath.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
      static_cast<std::uint64_t>(info.st_size) > kMaxPackSize) {
    std::printf("pack: %s\nsize: %lld\nverdict: length-error%s\n", packPath.c_str(),
                static_cast<long long>(info.st_size), assumed.c_str());
    return Fail(kExitHeaderRefused, "Pack blob length error: the pack is 2 GiB or more");
  }
  std::vector<unsigned char> pack;
  if (!ReadWholeFile(packPath, &pack, &error)) {
    // The program cannot measure a pack it cannot open either.
    std::printf("pack: %s\nverdict: length-error%s\n", packPath.c_str(), assumed.c_str());
    return Fail(kExitFileError, error);
  }

  const PackReport report = VerifyPack(pack, key, names);
  UpdateReport contents;
  if (update.given && report.verdict == PackVerdict::Accepted) {
    contents = CheckUpdateContents(pack.data() + report.layout.payloadOffset,
                                   report.layout.payloadLength, update.subDirectory,
                                   update.machine);
  }
  std::printf("pack: %s\nsize: %llu\n", packPath.c_str(),
              static_cast<unsigned long long>(report.size));
  if (report.hasHeader) {
    std::printf("magic: 0x%08x%s\nversion: %u\nreserved: 0x%08x\nsignature length: %u\n",
                report.header.magic, report.header.magic == kPackMagic ? " (CVPK)" : "",
                report.header.version, report.header.reserved, report.header.signatureLength);
  }
  if (report.hasLayout) {
    std::printf("payload: offset %u, %u bytes\n", report.layout.payloadOffset,
                report.layout.payloadLength);
  }
  std::printf("verdict: %s%s\n",
              contents.verdict != UpdateVerdict::Ok ? UpdateVerdictToken(contents.verdict)
                                                    : VerdictToken(report.verdict),
              assumed.c_str());
  if (report.payloadChecked) PrintEntries(report.payload);
  std::fflush(stdout);

  switch (report.verdict) {
    case PackVerdict::Accepted:
      if (contents.verdict != UpdateVerdict::Ok) {
        return Fail(ExitFor(contents.verdict), contents.message);
      }
      return kExitOk;
    case PackVerdict::LengthError:
    case PackVerdict::TooSmall:
    case PackVerdict::MagicMismatch:
    case PackVerdict::VersionMismatch:
      return Fail(kExitHeaderRefused, report.message);
    case PackVerdict::SignError:
      return Fail(kExitSignRefused, report.message);
    case PackVerdict::ArchiveError:
    case PackVerdict::UnsafeName:
    case PackVerdict::EntryError:
      return Fail(kExitPayloadRefused, report.message);
  }
  return kExitPayloadRefused;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (command == "keygen" && args.size() == 3) return RunKeygen(args[1], args[2]);
  UpdateOptions update;
  if ((command == "build" || command == "verify") &&
      !TakeUpdateOptions(&args, &update, command == "verify")) {
    return Usage();
  }
  if (command == "build" && args.size() == 4) return RunBuild(update, args[1], args[2], args[3]);
  if (command == "wrap" && args.size() == 4) return RunWrap(true, args[1], args[2], args[3]);
  if (command == "wrap" && args.size() == 5 && args[1] == "--unchecked") {
    return RunWrap(false, args[2], args[3], args[4]);
  }
  if (command == "verify" && args.size() == 3) return RunVerify(update, args[1], args[2]);
  return Usage();
}
