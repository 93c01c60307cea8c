#include "authenticode/FileDigest.h"

#include <algorithm>
#include <memory>
#include <span>

#include "common/FileReader.h"
#include "common/OpenSslPtr.h"

namespace {
constexpr std::uint64_t PieceSize = ReadPieceSize;
}  // namespace

std::optional<std::vector<unsigned char>> TFileDigests::Of(const EVP_MD* Md) {
  const auto Found = std::find_if(Known.begin(), Known.end(), [Md](const auto& Entry) { return Entry.first == Md; });
  if (Found != Known.end()) return Found->second;
  return Known.emplace_back(Md, Compute(Md)).second;
}

std::optional<std::vector<unsigned char>> TFileDigests::Compute(const EVP_MD* Md) const {
  const TMdCtx Context(EVP_MD_CTX_new());
  if (!Context || EVP_DigestInit_ex(Context.get(), Md, nullptr) != 1) return std::nullopt;
  const auto Buffer = std::make_unique_for_overwrite<std::uint8_t[]>(PieceSize);
  for (const TByteRange& Part : Parts) {
    for (std::uint64_t Done = 0; Done < Part.Length;) {
      const std::span<std::uint8_t> Piece(Buffer.get(), std::min(PieceSize, Part.Length - Done));
      if (!ReadInto(Fd, Part.Pos + Done, Piece) || EVP_DigestUpdate(Context.get(), Piece.data(), Piece.size()) != 1)
        return std::nullopt;
      Done += Piece.size();
    }
  }
  std::vector<unsigned char> Digest(EVP_MAX_MD_SIZE);
  unsigned int Length = 0;
  if (EVP_DigestFinal_ex(Context.get(), Digest.data(), &Length) != 1) return std::nullopt;
  Digest.resize(Length);
  return Digest;
}
