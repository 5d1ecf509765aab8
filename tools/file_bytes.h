#pragma once

#include <string>
#include <vector>

// Whole-file reads and writes for the tool. A written file appears complete
// or not at all: the bytes go to a temporary file beside it, which is then
// renamed over the target, so a failed run never leaves a truncated pack or
// key behind for a pipeline to pick up.

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>* bytes,
                   std::string* error);
enum class WriteMode {
  Replace,      // an existing file is replaced
  KeepExisting, // an existing file is an error and stays as it was
};

// privateFile: readable by the owner only (private keys).
bool WriteWholeFile(const std::string& path, const unsigned char* data, std::size_t size,
                    bool privateFile, WriteMode mode, std::string* error);
