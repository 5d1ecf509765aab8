#include "base/sha256.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A known digest, of bytes handed over in pieces (one of them empty).
TEST(Sha256Test, DigestsAKnownTextHandedOverInPieces) {
  Sha256 hash;
  for (const char* piece : {"a", "", "bc"}) EXPECT_TRUE(hash.Add(piece, std::strlen(piece)));
  Sha256::Digest digest;
  ASSERT_TRUE(hash.Finish(&digest));
  EXPECT_EQ(DigestText(digest), L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
