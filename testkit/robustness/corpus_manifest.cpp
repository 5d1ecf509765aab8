#include "testkit/robustness/corpus_manifest.h"

#include <sstream>

#include "testkit/build_paths.h"
#include "testkit/scoped_temp_dir.h"

void PrintTo(const CorpusCase& corpusCase, std::ostream* os) { *os << corpusCase.name; }

std::vector<CorpusCase> LoadCorpusManifest() {
  std::vector<CorpusCase> cases;
  std::string bytes;
  if (!testkit::ReadFileBytes(std::wstring(HOSTILE_PACK_CORPUS_DIR) + L"\\manifest.tsv", &bytes)) {
    return cases;
  }
  std::istringstream lines(bytes);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    CorpusCase c;
    std::istringstream fields(line);
    std::getline(fields, c.name, '\t');
    std::getline(fields, c.packFile, '\t');
    std::getline(fields, c.expectation, '\t');
    std::getline(fields, c.tree, '\t');
    cases.push_back(c);
  }
  return cases;
}

std::wstring CorpusPackPath(const CorpusCase& corpusCase) {
  return std::wstring(HOSTILE_PACK_CORPUS_DIR) + L"\\" +
         std::wstring(corpusCase.packFile.begin(), corpusCase.packFile.end());
}

std::wstring CorpusPackPath(const std::string& caseName) {
  for (const CorpusCase& c : LoadCorpusManifest()) {
    if (c.name == caseName) return CorpusPackPath(c);
  }
  return std::wstring();
}
