#pragma once

#include <ostream>
#include <string>
#include <vector>

// The generated hostile pack corpus: one case per line of its manifest.
struct CorpusCase {
  std::string name;
  std::string packFile;
  std::string expectation;  // unpack, refuse or either
  std::string tree;         // what a complete unpack leaves, in hostile_packs.py's notation
};

// Test output names a case by its name.
void PrintTo(const CorpusCase& corpusCase, std::ostream* os);

// Every case of the corpus the build generated; empty when it is missing.
std::vector<CorpusCase> LoadCorpusManifest();

// The full path of a case's pack; empty when no case has that name.
std::wstring CorpusPackPath(const std::string& caseName);
std::wstring CorpusPackPath(const CorpusCase& corpusCase);
