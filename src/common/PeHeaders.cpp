#include "common/PeHeaders.h"

namespace {
constexpr std::uint32_t NtSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t Pe32PlusMagic = 0x20B;
constexpr std::size_t FileHeaderSize = 20;
constexpr std::size_t OptionalHeaderPos = 4 + FileHeaderSize;
constexpr std::size_t CertificateDirectory = 4;

// Sizes of the NT headers with all 16 directory entries, and where the directories start.
struct TLayout {
  std::size_t NtSize;
  std::size_t RvaCountPos;  // NumberOfRvaAndSizes, from the NT headers
  std::size_t DirectoriesPos;
};
constexpr TLayout Pe32Layout{248, OptionalHeaderPos + 92, OptionalHeaderPos + 96};
constexpr TLayout Pe32PlusLayout{264, OptionalHeaderPos + 108, OptionalHeaderPos + 112};

bool Fits(std::span<const std::uint8_t> Image, std::size_t Pos, std::size_t Length) {
  return Pos <= Image.size() && Length <= Image.size() - Pos;
}
}  // namespace

std::uint16_t ReadLe16(std::span<const std::uint8_t> Bytes, std::size_t Pos) {
  return static_cast<std::uint16_t>(Bytes[Pos] | (Bytes[Pos + 1] << 8));
}

std::uint32_t ReadLe32(std::span<const std::uint8_t> Bytes, std::size_t Pos) {
  return static_cast<std::uint32_t>(ReadLe16(Bytes, Pos)) |
         (static_cast<std::uint32_t>(ReadLe16(Bytes, Pos + 2)) << 16);
}

std::variant<TPeHeaders, TPeFormatError> ReadPeHeaders(std::span<const std::uint8_t> Image) {
  if (!Fits(Image, 0, 2) || Image[0] != 'M' || Image[1] != 'Z') return TPeFormatError::NotMz;
  if (!Fits(Image, 0x3C, 4)) return TPeFormatError::BadNtHeaders;

  TPeHeaders Headers;
  Headers.NtOffset = ReadLe32(Image, 0x3C);
  const std::size_t Nt = Headers.NtOffset;
  if (!Fits(Image, Nt, OptionalHeaderPos + 2) || ReadLe32(Image, Nt) != NtSignature)
    return TPeFormatError::BadNtHeaders;
  Headers.Is64 = ReadLe16(Image, Nt + OptionalHeaderPos) == Pe32PlusMagic;
  const TLayout& Layout = Headers.Is64 ? Pe32PlusLayout : Pe32Layout;
  if (!Fits(Image, Nt, Layout.NtSize)) return TPeFormatError::BadNtHeaders;

  Headers.Machine = ReadLe16(Image, Nt + 4);
  Headers.IsDll = (ReadLe16(Image, Nt + 4 + 18) & 0x2000) != 0;
  Headers.CheckSumPos = static_cast<std::uint32_t>(Nt + OptionalHeaderPos + 64);
  Headers.HeadersEnd = static_cast<std::uint32_t>(Nt + Layout.NtSize);
  if (ReadLe32(Image, Nt + Layout.RvaCountPos) > CertificateDirectory) {
    const std::size_t Entry = Nt + Layout.DirectoriesPos + 8 * CertificateDirectory;
    Headers.CertEntryPos = static_cast<std::uint32_t>(Entry);
    Headers.CertOffset = ReadLe32(Image, Entry);
    Headers.CertSize = ReadLe32(Image, Entry + 4);
  }
  return Headers;
}
