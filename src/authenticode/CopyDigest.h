#pragma once
// One read of a signing copy: the Authenticode digest over its digested parts and, for a PE
// image, the checksum of all of it, taken together so that a large file is read once.
#include <openssl/evp.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "authenticode/PeChecksum.h"
#include "authenticode/SignedContainer.h"

struct TCopyDigest {
  std::vector<std::uint8_t> Digest;
  TPeChecksum Checksum;
};

// Nothing when the file cannot be read or the algorithm cannot be used.
std::optional<TCopyDigest> DigestCopy(int Fd, std::uint64_t Size, const std::vector<TByteRange>& Parts,
                                      const EVP_MD* Md);
