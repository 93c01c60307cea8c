#pragma once
// Counting the signatures in a DER-encoded PKCS#7 signed-data ContentInfo, nested ones included,
// from the structure's outline alone: certificates and digests are skipped, not decoded, so that
// even thousands of signatures are counted at once.
#include <cstddef>
#include <cstdint>
#include <span>

// Nesting deeper than this is not followed: each level needs its own bytes, so this only stops
// a crafted chain from going deep.
inline constexpr int MaxSignatureNestingLevel = 16;

// The signer infos of Der and, through their nested-signature attributes, of every signature
// nested in them down to MaxSignatureNestingLevel; Level is Der's own. Whatever does not have
// the expected outline counts nothing.
std::size_t CountSignatures(std::span<const std::uint8_t> Der, int Level);
