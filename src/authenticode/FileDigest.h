#pragma once
// The digests of a file's signed parts, read by position. Each algorithm's digest is computed
// once, however many signatures (nested ones) name it.
#include <openssl/evp.h>

#include <optional>
#include <utility>
#include <vector>

#include "authenticode/SignedContainer.h"

class TFileDigests {
 public:
  // Fd must stay open while the digests are asked for.
  TFileDigests(int Fd, std::vector<TByteRange> Parts) : Fd(Fd), Parts(std::move(Parts)) {}

  // Nothing when the parts cannot be read or the algorithm cannot be used.
  std::optional<std::vector<unsigned char>> Of(const EVP_MD* Md);

 private:
  std::optional<std::vector<unsigned char>> Compute(const EVP_MD* Md) const;

  int Fd;
  std::vector<TByteRange> Parts;
  std::vector<std::pair<const EVP_MD*, std::optional<std::vector<unsigned char>>>> Known;
};
