#include "base/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Known digests, the bytes handed over in the pieces given.
TEST(Sha256Test, DigestsKnownTextsHandedOverInPieces) {
  const struct {
    std::vector<std::string> pieces;
    const wchar_t* digest;
  } rows[] = {
      {{}, L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {{"abc"}, L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {{"a", "", "bc"}, L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
  };
  for (const auto& row : rows) {
    Sha256 hash;
    for (const std::string& piece : row.pieces) EXPECT_TRUE(hash.Add(piece.data(), piece.size()));
    Sha256::Digest digest;
    ASSERT_TRUE(hash.Finish(&digest));
    EXPECT_EQ(DigestText(digest), row.digest);
  }
}

}  // namespace
