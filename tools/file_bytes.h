#pragma once

#include <string>
#include <vector>

// Whole-file reads and writes for the tool. A written file appears complete
// or not at all: the bytes go to a temporary file beside it, which is then
// renamed over the target, so a failed run never leaves a truncated pack or
// key behind for a pipeline to pick up.

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>* bytes,
                   std::string* error);
bool WriteWholeFile(const std::string& path, const unsigned char* data, std::size_t size,
                    bool privateFile, std::string* error);
