#include "authenticode/SignedContainer.h"

#include <algorithm>
#include <span>
#include <variant>

#include "common/ByteReader.h"
#include "common/DisplayedText.h"
#include "common/FileReader.h"
#include "common/PeHeaders.h"

namespace {
constexpr std::uint16_t CertRevision2 = 0x0200;
constexpr std::uint16_t CertTypePkcsSignedData = 0x0002;
constexpr std::uint64_t WinCertificateHeaderSize = 8;
constexpr std::uint64_t TableAlignment = 8;

// Cabinet header: the fixed part, the reserve sizes, and the 20-byte reserve a signature uses.
constexpr std::size_t CabFixedHeaderSize = 36;
constexpr std::uint64_t CabReserveSizesEnd = 40;
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

constexpr const char* Damaged = DISPLAYED_TEXT("VerifySignature", "签名数据已损坏");
constexpr const char* PastTheEnd = DISPLAYED_TEXT("VerifySignature", "签名数据超出了文件末尾");
constexpr const char* TooLarge = DISPLAYED_TEXT("VerifySignature", "签名数据过大（超过64 MB）");
constexpr const char* BadEntry = DISPLAYED_TEXT("VerifySignature", "证书表的条目不是Authenticode签名");
constexpr const char* NotAtEnd = DISPLAYED_TEXT("VerifySignature", "签名之后还有未签名的数据");
constexpr const char* InsideImage = DISPLAYED_TEXT("VerifySignature", "证书表位于程序数据之间");
constexpr const char* Unaligned = DISPLAYED_TEXT("VerifySignature", "证书表没有按8字节对齐");
constexpr const char* ExtraBytes = DISPLAYED_TEXT("VerifySignature", "签名中夹带了未签名的数据");
constexpr const char* Unreferenced = DISPLAYED_TEXT("VerifySignature", "文件头不再指向文件中的签名，文件在签名后被修改");
constexpr const char* CutHeader = DISPLAYED_TEXT("VerifySignature", "CAB文件头不完整");

TByteRange Between(std::uint64_t From, std::uint64_t To) { return {From, To - From}; }

TSignedContainer Refused(TSignedContainer Result, TSignatureSlot Slot, const char* Fault) {
  Result.Slot = Slot;
  Result.Fault = Fault;
  return Result;
}

// The length of the DER element Bytes begins with, header included; nothing when its header is
// not a definite-length SEQUENCE that fits in Bytes.
std::optional<std::uint64_t> DerLength(std::span<const std::uint8_t> Bytes) {
  if (Bytes.size() < 2 || Bytes[0] != 0x30) return std::nullopt;
  std::uint64_t Length = Bytes[1];
  std::uint64_t Header = 2;
  if (Length > 0x80 && Length <= 0x84) {
    const std::uint64_t Count = Length - 0x80;
    if (!Fits(Bytes, 2, Count)) return std::nullopt;
    Length = 0;
    for (std::uint64_t I = 0; I < Count; ++I) Length = (Length << 8) | Bytes[2 + I];
    Header += Count;
  } else if (Length >= 0x80) {
    return std::nullopt;
  }
  if (Length > Bytes.size() - Header) return std::nullopt;
  return Header + Length;
}

// After the PKCS#7 only zero padding to the next multiple of eight may follow.
bool OnlyPaddingAfter(std::span<const std::uint8_t> Bytes, std::uint64_t End) {
  return Bytes.size() - End < TableAlignment &&
         std::all_of(Bytes.begin() + static_cast<std::ptrdiff_t>(End), Bytes.end(), [](std::uint8_t B) { return B == 0; });
}

// The end of the headers and of every section's data: anything before it the loader maps.
std::optional<std::uint64_t> ImageEnd(const TPeHeaders& Pe) {
  if (!Pe.Sections) return std::nullopt;
  std::uint64_t End = std::max({std::uint64_t{Pe.HeadersEnd}, std::uint64_t{Pe.SizeOfHeaders}, Pe.SectionTableEnd});
  for (const TPeSection& Section : *Pe.Sections)
    if (Section.RawSize > 0) End = std::max(End, std::uint64_t{Section.RawPos} + Section.RawSize);
  return End;
}

// A certificate table right after the image, ending the file, that the headers do not point at:
// the file was signed and its headers changed since (a different optional-header magic, fewer
// data directories, a cleared entry).
bool HasUnreferencedTable(int Fd, std::uint64_t FileSize, const TPeHeaders& Pe) {
  const std::optional<std::uint64_t> End = ImageEnd(Pe);
  if (!End) return false;
  const std::uint64_t Pos = (*End + TableAlignment - 1) / TableAlignment * TableAlignment;
  if (Pos > FileSize || FileSize - Pos < WinCertificateHeaderSize) return false;
  const std::optional<std::vector<std::uint8_t>> Entry = ReadAt(Fd, Pos, WinCertificateHeaderSize);
  if (!Entry) return false;
  const std::uint64_t Length = ReadLe32(*Entry, 0);
  return ReadLe16(*Entry, 4) == CertRevision2 && ReadLe16(*Entry, 6) == CertTypePkcsSignedData &&
         Length > WinCertificateHeaderSize && Length <= FileSize - Pos && FileSize - Pos - Length < TableAlignment;
}

std::optional<TSignedContainer> LocatePeSignature(int Fd, std::uint64_t FileSize, const TPeHeaders& Pe) {
  TSignedContainer Result;
  Result.Kind = TContainerKind::Pe;
  Result.CheckSumPos = Pe.CheckSumPos;
  if (!Pe.CertEntryPos || Pe.CertSize == 0) {
    if (HasUnreferencedTable(Fd, FileSize, Pe)) return Refused(Result, TSignatureSlot::Misplaced, Unreferenced);
    // What a signature made now would cover.
    if (Pe.CertEntryPos)
      Result.DigestedParts = {Between(0, Pe.CheckSumPos), Between(Pe.CheckSumPos + 4, *Pe.CertEntryPos),
                              Between(*Pe.CertEntryPos + 8, FileSize)};
    return Result;
  }
  Result.CertEntryPos = *Pe.CertEntryPos;
  const std::uint64_t Offset = Pe.CertOffset;
  const std::uint64_t Size = Pe.CertSize;
  Result.Signature = {Offset, Size};
  if (Offset > FileSize || Size > FileSize - Offset) return Refused(Result, TSignatureSlot::Malformed, PastTheEnd);
  if (Size > MaxSignatureSize) return Refused(Result, TSignatureSlot::Malformed, TooLarge);
  if (Size <= WinCertificateHeaderSize) return Refused(Result, TSignatureSlot::Malformed, BadEntry);
  if (Offset + Size != FileSize) return Refused(Result, TSignatureSlot::Misplaced, NotAtEnd);
  const std::optional<std::uint64_t> End = ImageEnd(Pe);
  if (!End || Offset < *End) return Refused(Result, TSignatureSlot::Misplaced, InsideImage);
  if (Offset % TableAlignment != 0) return Refused(Result, TSignatureSlot::Misplaced, Unaligned);

  const std::optional<std::vector<std::uint8_t>> Table = ReadAt(Fd, Offset, Size);
  if (!Table) return std::nullopt;
  // One WIN_CERTIFICATE entry: its length, revision 2.0, PKCS#7 signed data.
  const std::uint64_t Length = ReadLe32(*Table, 0);
  if (Length <= WinCertificateHeaderSize || Length > Size || ReadLe16(*Table, 4) != CertRevision2 ||
      ReadLe16(*Table, 6) != CertTypePkcsSignedData)
    return Refused(Result, TSignatureSlot::Malformed, BadEntry);
  const std::span<const std::uint8_t> Content = std::span<const std::uint8_t>(*Table).subspan(WinCertificateHeaderSize);
  const std::optional<std::uint64_t> Der = DerLength(Content.first(Length - WinCertificateHeaderSize));
  if (!Der) return Refused(Result, TSignatureSlot::Malformed, Damaged);
  Result.SignedData.assign(Content.begin(), Content.begin() + static_cast<std::ptrdiff_t>(*Der));
  if (!OnlyPaddingAfter(Content, *Der)) return Refused(Result, TSignatureSlot::Misplaced, ExtraBytes);

  Result.Slot = TSignatureSlot::Present;
  const std::uint64_t CheckSum = Pe.CheckSumPos;
  const std::uint64_t Entry = *Pe.CertEntryPos;
  Result.DigestedParts = {Between(0, CheckSum), Between(CheckSum + 4, Entry), Between(Entry + 8, Offset)};
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
  if ((Flags & CabReservePresent) == 0) return Result;
  if (!Fits(Head, 0, CabReserveSizesEnd)) return Refused(Result, TSignatureSlot::Malformed, CutHeader);
  if (ReadLe32(Head, 36) != CabSignatureReserveSizes) return Result;
  if (!Fits(Head, 0, CabSignedHeaderSize)) return Refused(Result, TSignatureSlot::Malformed, CutHeader);
  if (ReadLe32(Head, 40) != CabSignatureReserveTag) return Result;
  const std::uint64_t SignaturePos = ReadLe32(Head, 44);
  const std::uint64_t SignatureSize = ReadLe32(Head, 48);
  if (SignaturePos == 0 && SignatureSize == 0) {
    // An empty reserve: what a signature made now would cover.
    Result.DigestedParts = {Between(0, 4), Between(8, 34), Between(56, FileSize)};
    return Result;
  }
  Result.Signature = {SignaturePos, SignatureSize};
  if (SignaturePos > FileSize || SignatureSize > FileSize - SignaturePos)
    return Refused(Result, TSignatureSlot::Malformed, PastTheEnd);
  if (SignatureSize > MaxSignatureSize) return Refused(Result, TSignatureSlot::Malformed, TooLarge);
  const std::uint64_t FilesPos = ReadLe32(Head, 16);
  if (SignaturePos < CabSignedHeaderSize || SignatureSize == 0 || FilesPos < CabSignedHeaderSize ||
      FilesPos > SignaturePos || FilesPos > CabMaxFilesPos)
    return Refused(Result, TSignatureSlot::Malformed, Damaged);
  if (SignaturePos + SignatureSize != FileSize) return Refused(Result, TSignatureSlot::Misplaced, NotAtEnd);

  // The names of neighbouring cabinets and the folder entries must end where the file entries begin.
  std::optional<std::vector<std::uint8_t>> Prefix;
  if (FilesPos > Head.size()) {
    Prefix = ReadAt(Fd, 0, FilesPos);
    if (!Prefix) return std::nullopt;
  }
  const std::span<const std::uint8_t> Header = Prefix ? std::span<const std::uint8_t>(*Prefix) : Head.first(FilesPos);
  std::uint64_t Pos = CabSignedHeaderSize;
  if ((Flags & CabPrevCabinet) != 0 && !(SkipName(Header, Pos) && SkipName(Header, Pos)))
    return Refused(Result, TSignatureSlot::Malformed, Damaged);
  if ((Flags & CabNextCabinet) != 0 && !(SkipName(Header, Pos) && SkipName(Header, Pos)))
    return Refused(Result, TSignatureSlot::Malformed, Damaged);
  if (Pos + std::uint64_t{ReadLe16(Head, 26)} * CabFolderSize != FilesPos)
    return Refused(Result, TSignatureSlot::Malformed, Damaged);

  const std::optional<std::vector<std::uint8_t>> Signature = ReadAt(Fd, SignaturePos, SignatureSize);
  if (!Signature) return std::nullopt;
  const std::optional<std::uint64_t> Der = DerLength(*Signature);
  if (!Der) return Refused(Result, TSignatureSlot::Malformed, Damaged);
  Result.SignedData.assign(Signature->begin(), Signature->begin() + static_cast<std::ptrdiff_t>(*Der));
  if (!OnlyPaddingAfter(*Signature, *Der)) return Refused(Result, TSignatureSlot::Misplaced, ExtraBytes);
  Result.Slot = TSignatureSlot::Present;
  // Left out: reserved1, iCabinet, the reserve sizes and the signature's place in the reserve.
  Result.DigestedParts = {Between(0, 4), Between(8, 34), Between(56, SignaturePos)};
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
