#pragma once

#include <string>
#include <vector>

// Builds a pack's payload, a ZIP archive in memory, from a directory tree:
// every directory gets its own entry (name ending in '/', directory bits
// set) before anything inside it, so the program creates it before it writes
// the files in it; files are deflated and carry their modification time in
// an extended-timestamp ("UT") block, which the program applies as the
// write time. Entries are sorted by name at each level, so the same tree
// gives the same payload. The DOS time of each entry is the modification
// time in UTC, which the program uses, unconverted, for the access and
// creation times.
//
// Refused, with the reason: names the program could not unpack (see
// entry_name_rules.h) or not as a set (archive/entry_set_rule.h), anything
// but regular files and directories (links, devices), modification times
// outside 1970..2038 (the UT block holds a signed 32-bit time), an empty
// tree (an archive without entries is not recognised by the program), and
// payloads of 2 GiB or more. Names that are not plain ASCII are refused
// once the whole tree is walked, each named in `notes` when given.
bool BuildPayloadFromTree(const std::string& root, std::vector<unsigned char>* payload,
                          std::string* error, std::vector<std::string>* notes = nullptr);
