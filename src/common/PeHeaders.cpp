#include "common/PeHeaders.h"

#include <algorithm>

#include "common/ByteReader.h"

namespace {
constexpr std::uint32_t NtSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t Pe32PlusMagic = 0x20B;
constexpr std::size_t DosHeaderSize = 0x40;
constexpr std::size_t LfanewPos = 0x3C;
constexpr std::size_t FileHeaderSize = 20;
constexpr std::size_t SectionCountPos = 4 + 2;           // from the NT headers
constexpr std::size_t OptionalHeaderSizePos = 4 + 16;  // from the NT headers
constexpr std::size_t OptionalHeaderPos = 4 + FileHeaderSize;
constexpr std::size_t SizeOfHeadersPos = OptionalHeaderPos + 60;
constexpr std::size_t CertificateDirectory = 4;
constexpr std::size_t SectionHeaderSize = 40;
constexpr std::size_t SectionRawSizePos = 16;
constexpr std::size_t SectionRawPosPos = 20;

// Sizes of the NT headers with all 16 directory entries, and where the directories start.
struct TLayout {
  std::size_t NtSize;
  std::size_t RvaCountPos;  // NumberOfRvaAndSizes, from the NT headers
  std::size_t DirectoriesPos;
};
constexpr TLayout Pe32Layout{248, OptionalHeaderPos + 92, OptionalHeaderPos + 96};
constexpr TLayout Pe32PlusLayout{264, OptionalHeaderPos + 108, OptionalHeaderPos + 112};

std::optional<std::vector<TPeSection>> ReadSections(std::span<const std::uint8_t> Image, std::uint64_t Pos,
                                                    std::size_t Count) {
  if (!Fits(Image, Pos, std::uint64_t{Count} * SectionHeaderSize)) return std::nullopt;
  std::vector<TPeSection> Sections(Count);
  for (std::size_t I = 0; I < Count; ++I) {
    const std::size_t Header = static_cast<std::size_t>(Pos) + I * SectionHeaderSize;
    Sections[I] = {ReadLe32(Image, Header + SectionRawPosPos), ReadLe32(Image, Header + SectionRawSizePos)};
  }
  return Sections;
}
}  // namespace

std::variant<TPeHeaders, TPeFormatError> ReadPeHeaders(std::span<const std::uint8_t> Image) {
  if (!Fits(Image, 0, 2) || Image[0] != 'M' || Image[1] != 'Z') return TPeFormatError::NotMz;
  if (!Fits(Image, LfanewPos, 4)) return TPeFormatError::BadNtHeaders;

  TPeHeaders Headers;
  Headers.NtOffset = ReadLe32(Image, LfanewPos);
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
  Headers.SizeOfHeaders = ReadLe32(Image, Nt + SizeOfHeadersPos);
  if (ReadLe32(Image, Nt + Layout.RvaCountPos) > CertificateDirectory) {
    const std::size_t Entry = Nt + Layout.DirectoriesPos + 8 * CertificateDirectory;
    Headers.CertEntryPos = static_cast<std::uint32_t>(Entry);
    Headers.CertOffset = ReadLe32(Image, Entry);
    Headers.CertSize = ReadLe32(Image, Entry + 4);
  }
  const std::uint64_t SectionTable = std::uint64_t{Nt} + OptionalHeaderPos + ReadLe16(Image, Nt + OptionalHeaderSizePos);
  const std::size_t SectionCount = ReadLe16(Image, Nt + SectionCountPos);
  Headers.SectionTableEnd = SectionTable + SectionCount * SectionHeaderSize;
  Headers.Sections = ReadSections(Image, SectionTable, SectionCount);
  return Headers;
}

std::uint64_t PeHeadersLength(std::span<const std::uint8_t> Start) {
  if (!Fits(Start, LfanewPos, 4)) return DosHeaderSize;
  const std::uint64_t Nt = ReadLe32(Start, LfanewPos);
  if (!Fits(Start, Nt, OptionalHeaderPos + 2)) return std::max<std::uint64_t>(DosHeaderSize, Nt + OptionalHeaderPos + 2);
  const std::size_t NtSize = ReadLe16(Start, Nt + OptionalHeaderPos) == Pe32PlusMagic ? Pe32PlusLayout.NtSize
                                                                                      : Pe32Layout.NtSize;
  const std::uint64_t SectionTableEnd = Nt + OptionalHeaderPos + ReadLe16(Start, Nt + OptionalHeaderSizePos) +
                                        std::uint64_t{ReadLe16(Start, Nt + SectionCountPos)} * SectionHeaderSize;
  return std::max({std::uint64_t{DosHeaderSize}, Nt + NtSize, SectionTableEnd});
}
