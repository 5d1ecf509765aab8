#include "tools/pack_verifier.h"

#include "pack/pack_checks.h"
#include "tools/signing_key.h"

const char* VerdictToken(PackVerdict verdict) {
  switch (verdict) {
    case PackVerdict::Accepted: return "accepted";
    case PackVerdict::LengthError: return "length-error";
    case PackVerdict::TooSmall: return "too-small";
    case PackVerdict::MagicMismatch: return "magic-mismatch";
    case PackVerdict::VersionMismatch: return "version-mismatch";
    case PackVerdict::SignError: return "sign-error";
    case PackVerdict::ArchiveError: return "archive-error";
    case PackVerdict::UnsafeName: return "unsafe-name";
    case PackVerdict::EntryError: return "entry-error";
  }
  return "unknown";
}

PackReport VerifyPack(const std::vector<unsigned char>& pack, const PublicKeyParts& key,
                      const NameDecoder& names) {
  PackReport report;
  report.size = pack.size();
  if (!IsPackLengthAllowed(pack.size())) {
    report.verdict = PackVerdict::LengthError;
    report.message = "Pack blob length error: the pack is 2 GiB or more";
    return report;
  }
  const std::uint32_t size = static_cast<std::uint32_t>(pack.size());
  report.hasHeader = size >= kPackHeaderSize;
  if (report.hasHeader) report.header = ReadPackHeader(pack.data());

  SignatureVerdict signature = SignatureVerdict::Valid;
  std::string error;
  const auto verify = [&](const unsigned char* signatureBytes, std::uint32_t signatureLength,
                          const unsigned char* payload, std::uint32_t payloadLength) {
    signature = VerifyPayload(key, signatureBytes, signatureLength, payload, payloadLength, &error);
    return signature == SignatureVerdict::Valid;
  };
  const PackCheck check = CheckLoadedPack(pack.data(), size, verify, &report.layout);
  report.hasLayout = check == PackCheck::Ok || check == PackCheck::SignError;
  switch (check) {
    case PackCheck::Ok:
      break;
    case PackCheck::TooSmall:
      report.verdict = PackVerdict::TooSmall;
      report.message = report.hasHeader ? "Pack too small: the signature length runs past the end"
                                        : "Pack too small: fewer than 16 bytes";
      return report;
    case PackCheck::MagicMismatch:
      report.verdict = PackVerdict::MagicMismatch;
      report.message = "Magic mismatch: the pack does not begin with CVPK";
      return report;
    case PackCheck::VersionMismatch:
      report.verdict = PackVerdict::VersionMismatch;
      report.message = "Version mismatch: only version 0 is known";
      return report;
    case PackCheck::SignError:
      report.verdict = PackVerdict::SignError;
      report.message = signature == SignatureVerdict::Invalid
                           ? "Pack sign error: the signature does not match the payload and key"
                           : "Pack sign error: " + error;
      return report;
  }

  report.payloadChecked = true;
  report.payload = CheckPayload(pack.data() + report.layout.payloadOffset,
                                report.layout.payloadLength, names);
  report.message = report.payload.message;
  switch (report.payload.verdict) {
    case PayloadVerdict::Ok: report.verdict = PackVerdict::Accepted; break;
    case PayloadVerdict::NotAnArchive: report.verdict = PackVerdict::ArchiveError; break;
    case PayloadVerdict::UnsafeName: report.verdict = PackVerdict::UnsafeName; break;
    case PayloadVerdict::BadEntry: report.verdict = PackVerdict::EntryError; break;
  }
  return report;
}
