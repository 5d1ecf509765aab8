#include "tools/pack_verifier.h"

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

PackReport VerifyPack(const std::vector<unsigned char>& pack, const PublicKeyParts& key) {
  PackReport report;
  report.size = pack.size();
  if (pack.size() > kMaxPackSize) {
    report.verdict = PackVerdict::LengthError;
    report.message = "Pack blob length error: the pack is 2 GiB or more";
    return report;
  }
  const std::uint32_t size = static_cast<std::uint32_t>(pack.size());
  report.hasHeader = size >= kPackHeaderSize;
  if (report.hasHeader) report.header = ReadPackHeader(pack.data());

  switch (CheckPackHeader(pack.data(), size, &report.layout)) {
    case PackHeaderCheck::Ok:
      break;
    case PackHeaderCheck::TooSmall:
      report.verdict = PackVerdict::TooSmall;
      report.message = "Pack too small: fewer than 16 bytes";
      return report;
    case PackHeaderCheck::MagicMismatch:
      report.verdict = PackVerdict::MagicMismatch;
      report.message = "Magic mismatch: the pack does not begin with CVPK";
      return report;
    case PackHeaderCheck::VersionMismatch:
      report.verdict = PackVerdict::VersionMismatch;
      report.message = "Version mismatch: only version 0 is known";
      return report;
    case PackHeaderCheck::SignatureTooLong:
      report.verdict = PackVerdict::TooSmall;
      report.message = "Pack too small: the signature length runs past the end";
      return report;
  }
  report.hasLayout = true;

  std::string error;
  const SignatureVerdict signature =
      VerifyPayload(key, pack.data() + report.layout.signatureOffset,
                    report.layout.signatureLength, pack.data() + report.layout.payloadOffset,
                    report.layout.payloadLength, &error);
  if (signature != SignatureVerdict::Valid) {
    report.verdict = PackVerdict::SignError;
    report.message = signature == SignatureVerdict::Invalid
                         ? "Pack sign error: the signature does not match the payload and key"
                         : "Pack sign error: " + error;
    return report;
  }

  report.payloadChecked = true;
  report.payload = CheckPayload(pack.data() + report.layout.payloadOffset,
                                report.layout.payloadLength);
  report.message = report.payload.message;
  switch (report.payload.verdict) {
    case PayloadVerdict::Ok: report.verdict = PackVerdict::Accepted; break;
    case PayloadVerdict::NotAnArchive: report.verdict = PackVerdict::ArchiveError; break;
    case PayloadVerdict::UnsafeName: report.verdict = PackVerdict::UnsafeName; break;
    case PayloadVerdict::BadEntry: report.verdict = PackVerdict::EntryError; break;
  }
  return report;
}
