#pragma once

#include <string>
#include <vector>

// Helpers of the pack and extraction tests under Wine: the packs packtool
// made at build time, trace capture, and the record of verdicts that the
// publisher's tool must agree with.
namespace packtest {

// A file of the build's test-pack directory, as Wine sees it.
std::wstring TestPackPath(const std::wstring& name);
// Its bytes; fails the calling test when it cannot be read.
std::string ReadTestPack(const std::wstring& name);
// The directory tree the "tree.pack" payload was made from.
std::wstring TestTreePath();

// Whether a stored signature (least significant byte first, 256 bytes) is
// below the built-in key's modulus. Wine's CryptoAPI fails a value that is
// not with NTE_FAIL instead of answering NTE_BAD_SIGNATURE.
bool BelowModulus(const std::string& signature);

// Captures every DebugTrace line while it lives.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  std::vector<std::wstring> Lines() const;
  void Clear();
};

// Makes a directory the current one while it lives.
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const std::wstring& directory);
  ~ScopedCurrentDirectory();
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

 private:
  std::wstring previous_;
};

// Starts a new record of verdicts.
void ResetVerdicts();
// Keeps a pack the program judged, with its verdict word, for the check
// that packtool verify judges it the same.
void RecordVerdict(const std::string& fileName, const std::string& packBytes,
                   const std::string& verdict);

}  // namespace packtest
