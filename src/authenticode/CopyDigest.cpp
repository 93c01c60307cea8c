#include "authenticode/CopyDigest.h"

#include <algorithm>
#include <memory>
#include <span>

#include "common/FileReader.h"
#include "common/OpenSslPtr.h"

namespace {
constexpr std::uint64_t PieceSize = ReadPieceSize;
}  // namespace

std::optional<TCopyDigest> DigestCopy(int Fd, std::uint64_t Size, const std::vector<TByteRange>& Parts,
                                      const EVP_MD* Md) {
  const TMdCtx Context(EVP_MD_CTX_new());
  if (!Context || EVP_DigestInit_ex(Context.get(), Md, nullptr) != 1) return std::nullopt;
  TCopyDigest Result;
  const auto Buffer = std::make_unique_for_overwrite<std::uint8_t[]>(PieceSize);
  for (std::uint64_t Pos = 0; Pos < Size; Pos += PieceSize) {
    const std::span<std::uint8_t> Piece(Buffer.get(), std::min(PieceSize, Size - Pos));
    if (!ReadInto(Fd, Pos, Piece)) return std::nullopt;
    Result.Checksum.Add(Piece, Pos);
    const std::uint64_t PieceEnd = Pos + Piece.size();
    for (const TByteRange& Part : Parts) {
      const std::uint64_t From = std::max(Part.Pos, Pos);
      const std::uint64_t To = std::min(Part.Pos + Part.Length, PieceEnd);
      if (From < To && EVP_DigestUpdate(Context.get(), Piece.data() + (From - Pos), To - From) != 1)
        return std::nullopt;
    }
  }
  Result.Digest.resize(EVP_MAX_MD_SIZE);
  unsigned int Length = 0;
  if (EVP_DigestFinal_ex(Context.get(), Result.Digest.data(), &Length) != 1) return std::nullopt;
  Result.Digest.resize(Length);
  return Result;
}
