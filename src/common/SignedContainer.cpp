#include "common/SignedContainer.h"

#include <span>
#include <variant>

#include "common/ByteReader.h"
#include "common/FileReader.h"
#include "common/PeHeaders.h"

namespace {
constexpr std::uint16_t CertTypePkcsSignedData = 0x0002;
constexpr std::uint64_t WinCertificateHeaderSize = 8;

// Cabinet header: the fixed part, the reserve sizes, and the 20-byte reserve a signature uses.
constexpr std::size_t CabFixedHeaderSize = 36;
constexpr std::uint16_t CabPrevCabinet = 0x0001;
constexpr std::uint16_t CabNextCabinet = 0x0002;
constexpr std::uint16_t CabReservePresent = 0x0004;
constexpr std::uint32_t CabSignatureReserveSizes = 20;  // cbCFHeader 20, no folder or data reserve
constexpr std::uint32_t CabSignatureReserveTag = 0x00100000;
constexpr std::uint64_t CabSignedHeaderSize = 60;
constexpr std::uint64_t CabFolderSize = 8;
// Four names of at most 255 characters and their terminators, and 65535 folder entries: the file
// entries of a signed cabinet cannot begin later.
constexpr std::uint64_t CabMaxFilesPos = CabSignedHeaderSize + 4 * 256 + 0xFFFF * CabFolderSize;

TByteRange Between(std::uint64_t From, std::uint64_t To) { return {From, To - From}; }

std::optional<TSignedContainer> LocatePeSignature(int Fd, std::uint64_t FileSize, const TPeHeaders& Pe) {
  TSignedContainer Result;
  Result.Kind = TContainerKind::Pe;
  if (!Pe.CertEntryPos || (Pe.CertOffset == 0 && Pe.CertSize == 0)) return Result;
  Result.Slot = TSignatureSlot::Malformed;
  // The table must follow the headers whose fields the digest leaves out.
  if (Pe.CertOffset < Pe.HeadersEnd || Pe.CertSize < WinCertificateHeaderSize || Pe.CertOffset > FileSize ||
      Pe.CertSize > FileSize - Pe.CertOffset)
    return Result;
  const std::optional<std::vector<std::uint8_t>> Table = ReadAt(Fd, Pe.CertOffset, Pe.CertSize);
  if (!Table) return std::nullopt;

  // Only the first entry counts, as on Windows.
  const std::uint32_t Length = ReadLe32(*Table, 0);
  if (Length <= WinCertificateHeaderSize || Length > Table->size() || ReadLe16(*Table, 6) != CertTypePkcsSignedData)
    return Result;

  Result.Slot = TSignatureSlot::Present;
  Result.SignedData.assign(Table->begin() + WinCertificateHeaderSize, Table->begin() + Length);
  const std::uint64_t CheckSum = Pe.CheckSumPos;
  const std::uint64_t Entry = *Pe.CertEntryPos;
  const std::uint64_t TableEnd = std::uint64_t{Pe.CertOffset} + Pe.CertSize;
  Result.DigestedParts = {Between(0, CheckSum), Between(CheckSum + 4, Entry), Between(Entry + 8, Pe.CertOffset),
                          Between(TableEnd, FileSize)};
  return Result;
}

// Skips a zero-terminated name at Pos; false when it runs past the bytes.
bool SkipName(std::span<const std::uint8_t> Bytes, std::uint64_t& Pos) {
  while (Pos < Bytes.size())
    if (Bytes[Pos++] == 0) return true;
  return false;
}

// Head holds at least the fixed header.
std::optional<TSignedContainer> LocateCabSignature(int Fd, std::uint64_t FileSize, std::span<const std::uint8_t> Head) {
  TSignedContainer Result;
  Result.Kind = TContainerKind::Cab;
  const std::uint16_t Flags = ReadLe16(Head, 30);
  if ((Flags & CabReservePresent) == 0 || !Fits(Head, 0, CabSignedHeaderSize) ||
      ReadLe32(Head, 36) != CabSignatureReserveSizes || ReadLe32(Head, 40) != CabSignatureReserveTag)
    return Result;
  const std::uint64_t SignaturePos = ReadLe32(Head, 44);
  const std::uint64_t SignatureSize = ReadLe32(Head, 48);
  if (SignaturePos == 0 && SignatureSize == 0) return Result;
  Result.Slot = TSignatureSlot::Malformed;
  const std::uint64_t FilesPos = ReadLe32(Head, 16);
  if (SignaturePos < CabSignedHeaderSize || SignatureSize == 0 || SignaturePos > FileSize ||
      SignatureSize > FileSize - SignaturePos || FilesPos < CabSignedHeaderSize || FilesPos > SignaturePos ||
      FilesPos > CabMaxFilesPos)
    return Result;

  // The names of neighbouring cabinets and the folder entries must end where the file entries begin.
  std::optional<std::vector<std::uint8_t>> Prefix;
  if (FilesPos > Head.size()) {
    Prefix = ReadAt(Fd, 0, FilesPos);
    if (!Prefix) return std::nullopt;
  }
  const std::span<const std::uint8_t> Header = Prefix ? std::span<const std::uint8_t>(*Prefix) : Head.first(FilesPos);
  std::uint64_t Pos = CabSignedHeaderSize;
  if ((Flags & CabPrevCabinet) != 0 && !(SkipName(Header, Pos) && SkipName(Header, Pos))) return Result;
  if ((Flags & CabNextCabinet) != 0 && !(SkipName(Header, Pos) && SkipName(Header, Pos))) return Result;
  if (Pos + std::uint64_t{ReadLe16(Head, 26)} * CabFolderSize != FilesPos) return Result;

  std::optional<std::vector<std::uint8_t>> Signature = ReadAt(Fd, SignaturePos, SignatureSize);
  if (!Signature) return std::nullopt;
  Result.Slot = TSignatureSlot::Present;
  Result.SignedData = std::move(*Signature);
  // Left out: reserved1, iCabinet, the reserve sizes and the signature's place in the reserve.
  Result.DigestedParts = {Between(0, 4), Between(8, 34), Between(56, SignaturePos),
                          Between(SignaturePos + SignatureSize, FileSize)};
  return Result;
}

bool IsCab(std::span<const std::uint8_t> Head) {
  return Fits(Head, 0, CabFixedHeaderSize) && Head[0] == 'M' && Head[1] == 'S' && Head[2] == 'C' && Head[3] == 'F';
}
}  // namespace

std::optional<TSignedContainer> LocateSignature(int Fd, std::uint64_t FileSize) {
  const std::optional<std::vector<std::uint8_t>> Head = ReadPeHeaderBytes(Fd, FileSize);
  if (!Head) return std::nullopt;
  const auto Headers = ReadPeHeaders(*Head);
  if (const auto* Pe = std::get_if<TPeHeaders>(&Headers)) return LocatePeSignature(Fd, FileSize, *Pe);
  TSignedContainer Result;
  if (std::get<TPeFormatError>(Headers) == TPeFormatError::BadNtHeaders) {
    Result.Kind = TContainerKind::BrokenPe;
    return Result;
  }
  if (IsCab(*Head)) return LocateCabSignature(Fd, FileSize, *Head);
  return Result;
}
