#include "authenticode/SigningCopy.h"

#include <unistd.h>

#include <cerrno>
#include <limits>
#include <optional>
#include <variant>

#include "authenticode/PeChecksum.h"
#include "common/ByteReader.h"
#include "common/ByteWriter.h"
#include "common/FileReader.h"
#include "common/PeHeaders.h"
#include "common/SafeFileWrite.h"
#include "authenticode/SignedContainer.h"

namespace {
constexpr std::uint64_t MaxSignedSize = std::numeric_limits<std::uint32_t>::max();
// Room a signature may take beyond the content: far more than any certificate table holds.
constexpr std::uint64_t SignatureRoom = std::uint64_t{64} << 20;
constexpr std::uint16_t WinCertRevision2 = 0x0200;
constexpr std::uint16_t WinCertTypePkcsSignedData = 0x0002;
constexpr std::uint64_t WinCertificateHeaderSize = 8;

// Cabinet header fields.
constexpr std::uint64_t CabSizePos = 8;
constexpr std::uint64_t CabFilesPos = 16;
constexpr std::uint64_t CabFolderCountPos = 26;
constexpr std::uint64_t CabFlagsPos = 30;
constexpr std::uint64_t CabFixedHeaderSize = 36;
constexpr std::uint16_t CabPrevCabinet = 0x0001;
constexpr std::uint16_t CabNextCabinet = 0x0002;
constexpr std::uint16_t CabReservePresent = 0x0004;
constexpr std::uint64_t CabReserveSizesPos = 36;
constexpr std::uint32_t CabSignatureReserveSizes = 20;
constexpr std::uint64_t CabReserveTagPos = 40;
constexpr std::uint32_t CabSignatureReserveTag = 0x00100000;
constexpr std::uint64_t CabSignaturePosPos = 44;
constexpr std::uint64_t CabSignatureSizePos = 48;
constexpr std::uint64_t CabSignedHeaderSize = 60;
constexpr std::uint64_t CabAddedHeader = CabSignedHeaderSize - CabFixedHeaderSize;
constexpr std::uint64_t CabFolderSize = 8;
// Four names of at most 255 characters with their ends, and 65535 folder entries.
constexpr std::uint64_t CabMaxFilesPos = CabSignedHeaderSize + 4 * 256 + 0xFFFF * CabFolderSize;

void Write(int Fd, std::span<const std::uint8_t> Bytes, std::uint64_t Pos) {
  std::size_t Done = 0;
  while (Done < Bytes.size()) {
    const ssize_t Written = ::pwrite(Fd, Bytes.data() + Done, Bytes.size() - Done, static_cast<off_t>(Pos + Done));
    if (Written < 0 && errno == EINTR) continue;
    if (Written <= 0) throw TReplaceError(TReplaceError::TKind::System, Written < 0 ? errno : EIO);
    Done += static_cast<std::size_t>(Written);
  }
}

void WriteLe32(int Fd, std::uint64_t Value, std::uint64_t Pos) {
  const std::uint8_t Bytes[4] = {static_cast<std::uint8_t>(Value), static_cast<std::uint8_t>(Value >> 8),
                                 static_cast<std::uint8_t>(Value >> 16), static_cast<std::uint8_t>(Value >> 24)};
  Write(Fd, Bytes, Pos);
}

bool Copied(int From, std::uint64_t FromPos, int To, std::uint64_t ToPos, std::uint64_t Length) {
  return CopyFileRange(From, FromPos, To, ToPos, Length) == Length;
}

TSigningCopy Fault(TCopyFault Kind) {
  TSigningCopy Result;
  Result.Fault = Kind;
  return Result;
}

TSigningCopy CopyPe(int Original, std::uint64_t Size, int Copy, const TSignedContainer& Container) {
  const std::optional<std::vector<std::uint8_t>> Head = ReadPeHeaderBytes(Original, Size);
  if (!Head) return Fault(TCopyFault::Unreadable);
  const auto Parsed = ReadPeHeaders(*Head);
  const auto* Headers = std::get_if<TPeHeaders>(&Parsed);
  if (!Headers || !Headers->CertEntryPos) return Fault(TCopyFault::NotSignable);

  TSigningCopy Result;
  Result.Kind = TSignedFileKind::Pe;
  Result.CheckSumPos = Headers->CheckSumPos;
  Result.CertEntryPos = *Headers->CertEntryPos;
  std::uint64_t End = Size;
  if (Container.Slot == TSignatureSlot::Present) {
    End = Container.Signature.Pos;  // the table ends the file
    Result.ExistingSignature = Container.SignedData;
  }
  Result.ContentEnd = (End + 7) / 8 * 8;
  if (Result.ContentEnd > MaxSignedSize - SignatureRoom) return Fault(TCopyFault::TooLarge);
  if (!Copied(Original, 0, Copy, 0, End)) return Fault(TCopyFault::Unreadable);
  static constexpr std::uint8_t Zeros[8] = {};
  Write(Copy, std::span(Zeros, 4), Result.CheckSumPos);
  Write(Copy, std::span(Zeros, 8), Result.CertEntryPos);
  Write(Copy, std::span(Zeros, Result.ContentEnd - End), End);
  return Result;
}

// Skips a zero-terminated name at Pos; false when it runs past the bytes.
bool SkipName(std::span<const std::uint8_t> Bytes, std::uint64_t& Pos) {
  while (Pos < Bytes.size())
    if (Bytes[Pos++] == 0) return true;
  return false;
}

// A cabinet without any reserve gets the signature's: 24 bytes more header, and every position
// after it (the cabinet's size, its file entries, its folders' data) moves by as much.
TSigningCopy CopyCabAddingReserve(int Original, std::uint64_t Size, int Copy) {
  if (Size + CabAddedHeader > MaxSignedSize - SignatureRoom) return Fault(TCopyFault::TooLarge);
  const std::optional<std::vector<std::uint8_t>> Fixed = ReadAt(Original, 0, CabFixedHeaderSize);
  if (!Fixed) return Fault(TCopyFault::Unreadable);
  const std::uint64_t FilesPos = ReadLe32(*Fixed, CabFilesPos);
  if (FilesPos < CabFixedHeaderSize || FilesPos > Size || FilesPos > CabMaxFilesPos) return Fault(TCopyFault::NotSignable);
  std::optional<std::vector<std::uint8_t>> Header = ReadAt(Original, 0, FilesPos);
  if (!Header) return Fault(TCopyFault::Unreadable);
  const std::uint16_t Flags = ReadLe16(*Header, CabFlagsPos);
  std::uint64_t FoldersPos = CabFixedHeaderSize;
  if ((Flags & CabPrevCabinet) != 0 && !(SkipName(*Header, FoldersPos) && SkipName(*Header, FoldersPos)))
    return Fault(TCopyFault::NotSignable);
  if ((Flags & CabNextCabinet) != 0 && !(SkipName(*Header, FoldersPos) && SkipName(*Header, FoldersPos)))
    return Fault(TCopyFault::NotSignable);
  const std::uint64_t FolderCount = ReadLe16(*Header, CabFolderCountPos);
  if (FoldersPos + FolderCount * CabFolderSize != FilesPos) return Fault(TCopyFault::NotSignable);

  std::vector<std::uint8_t>& Bytes = *Header;
  PutLe32(Bytes, CabSizePos, ReadLe32(Bytes, CabSizePos) + CabAddedHeader);
  PutLe32(Bytes, CabFilesPos, FilesPos + CabAddedHeader);
  Bytes[CabFlagsPos] = static_cast<std::uint8_t>(Bytes[CabFlagsPos] | CabReservePresent);
  for (std::uint64_t Folder = FoldersPos; Folder < FilesPos; Folder += CabFolderSize)
    PutLe32(Bytes, Folder, ReadLe32(Bytes, Folder) + CabAddedHeader);
  // The reserve: its sizes, its tag, and the signature's place and size, filled in at the end.
  std::vector<std::uint8_t> Reserve(CabAddedHeader, 0);
  PutLe32(Reserve, 0, CabSignatureReserveSizes);
  PutLe32(Reserve, CabReserveTagPos - CabFixedHeaderSize, CabSignatureReserveTag);
  Write(Copy, std::span(Bytes).first(CabFixedHeaderSize), 0);
  Write(Copy, Reserve, CabFixedHeaderSize);
  Write(Copy, std::span(Bytes).subspan(CabFixedHeaderSize), CabSignedHeaderSize);
  if (!Copied(Original, FilesPos, Copy, FilesPos + CabAddedHeader, Size - FilesPos)) return Fault(TCopyFault::Unreadable);

  TSigningCopy Result;
  Result.Kind = TSignedFileKind::Cab;
  Result.ContentEnd = Size + CabAddedHeader;
  return Result;
}

TSigningCopy CopyCab(int Original, std::uint64_t Size, int Copy, const TSignedContainer& Container) {
  const std::optional<std::vector<std::uint8_t>> Head = ReadAt(Original, 0, std::min(Size, CabSignedHeaderSize));
  if (!Head) return Fault(TCopyFault::Unreadable);
  if ((ReadLe16(*Head, CabFlagsPos) & CabReservePresent) == 0) return CopyCabAddingReserve(Original, Size, Copy);
  // A reserve for anything but a signature would have to be taken apart: refused.
  if (!Fits(*Head, 0, CabSignedHeaderSize) || ReadLe32(*Head, CabReserveSizesPos) != CabSignatureReserveSizes ||
      ReadLe32(*Head, CabReserveTagPos) != CabSignatureReserveTag)
    return Fault(TCopyFault::NotSignable);

  TSigningCopy Result;
  Result.Kind = TSignedFileKind::Cab;
  std::uint64_t End = Size;
  if (Container.Slot == TSignatureSlot::Present) {
    End = Container.Signature.Pos;  // the signature ends the file
    Result.ExistingSignature = Container.SignedData;
  }
  if (End > MaxSignedSize - SignatureRoom) return Fault(TCopyFault::TooLarge);
  if (!Copied(Original, 0, Copy, 0, End)) return Fault(TCopyFault::Unreadable);
  static constexpr std::uint8_t Zeros[8] = {};
  Write(Copy, Zeros, CabSignaturePosPos);
  Result.ContentEnd = End;
  return Result;
}
}  // namespace

TSigningCopy WriteSigningCopy(int Original, std::uint64_t Size, int Copy) {
  const std::optional<TSignedContainer> Container = LocateSignature(Original, Size);
  if (!Container) return Fault(TCopyFault::Unreadable);
  if (Container->Kind != TContainerKind::Pe && Container->Kind != TContainerKind::Cab)
    return Fault(TCopyFault::NotSignable);
  if (Container->Slot != TSignatureSlot::Absent && Container->Slot != TSignatureSlot::Present)
    return Fault(TCopyFault::DamagedSignature);
  return Container->Kind == TContainerKind::Pe ? CopyPe(Original, Size, Copy, *Container)
                                               : CopyCab(Original, Size, Copy, *Container);
}

std::uint64_t AppendSignature(int Copy, const TSigningCopy& Layout, std::span<const std::uint8_t> Signature,
                              TPeChecksum ContentSum) {
  const std::uint64_t Padding = (8 - Signature.size() % 8) % 8;
  std::vector<std::uint8_t> Blob;
  if (Layout.Kind == TSignedFileKind::Pe) {
    // One WIN_CERTIFICATE entry: its length, revision 2.0, PKCS#7 signed data.
    Blob.assign(WinCertificateHeaderSize, 0);
    PutLe32(Blob, 0, WinCertificateHeaderSize + Signature.size() + Padding);
    Blob[4] = WinCertRevision2 & 0xFF;
    Blob[5] = WinCertRevision2 >> 8;
    Blob[6] = WinCertTypePkcsSignedData;
  }
  Blob.insert(Blob.end(), Signature.begin(), Signature.end());
  Blob.resize(Blob.size() + Padding, 0);
  Write(Copy, Blob, Layout.ContentEnd);
  const std::uint64_t FileSize = Layout.ContentEnd + Blob.size();
  if (Layout.Kind == TSignedFileKind::Cab) {
    WriteLe32(Copy, Layout.ContentEnd, CabSignaturePosPos);
    WriteLe32(Copy, Blob.size(), CabSignatureSizePos);
    return FileSize;
  }
  WriteLe32(Copy, Layout.ContentEnd, Layout.CertEntryPos);
  WriteLe32(Copy, Blob.size(), Layout.CertEntryPos + 4);
  // The entry's fields now count too; the content's sum was taken with them zero.
  std::vector<std::uint8_t> Entry(8);
  PutLe32(Entry, 0, Layout.ContentEnd);
  PutLe32(Entry, 4, Blob.size());
  ContentSum.Add(Entry, Layout.CertEntryPos);
  ContentSum.Add(Blob, Layout.ContentEnd);
  WriteLe32(Copy, ContentSum.Value(FileSize), Layout.CheckSumPos);
  return FileSize;
}
