// Removing the Authenticode signature from a PE file or a cabinet.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "common/ByteReader.h"
#include "common/ByteWriter.h"
#include "common/DisplayedText.h"
#include "common/FileReader.h"
#include "common/SafeFileWrite.h"
#include "authenticode/SignedContainer.h"
#include "common/uPubFunc.h"

namespace {
constexpr const char* OpenFailed = DISPLAYED_TEXT("StripSignature", "打开文件失败");
constexpr const char* CutFailed = DISPLAYED_TEXT("StripSignature", "修改签名失败");
constexpr const char* BeingWritten = DISPLAYED_TEXT("StripSignature", "文件正被其他程序写入");

std::string FullPath(const std::string& Path) {
  std::error_code Ignored;
  const std::filesystem::path Absolute = std::filesystem::absolute(Path, Ignored);
  return Absolute.empty() ? Path : Absolute.string();
}

[[noreturn]] void ThrowCannotCreate(const std::string& Path, const std::string& SystemText) {
  throw std::runtime_error("Cannot create file \"" + FullPath(Path) + "\". " + SystemText);
}

// Opens, locks and locates the signature; the message saying why the file cannot be stripped,
// or nullptr.
const char* Refusal(TFileReplacement& File, const std::string& Path, TSignedContainer& Container) {
  switch (File.Open(Path, false)) {
    case TFileReplacement::TOpenResult::Opened: break;
    case TFileReplacement::TOpenResult::Created:
    case TFileReplacement::TOpenResult::NotRegular:
    case TFileReplacement::TOpenResult::Locked:
    case TFileReplacement::TOpenResult::Failed: return OpenFailed;
    case TFileReplacement::TOpenResult::InUse: return BeingWritten;
  }
  const auto Size = static_cast<std::uint64_t>(File.OriginalInfo().st_size);
  if (Size == 0) return DISPLAYED_TEXT("StripSignature", "创建映射失败");
  std::optional<TSignedContainer> Located = LocateSignature(File.Original(), Size);
  if (!Located) return DISPLAYED_TEXT("StripSignature", "读取映射失败");
  Container = std::move(*Located);
  switch (Container.Kind) {
    case TContainerKind::Other: return DISPLAYED_TEXT("StripSignature", "无法识别格式");
    case TContainerKind::BrokenPe: return DISPLAYED_TEXT("StripSignature", "非法的PE文件");
    case TContainerKind::Pe:
    case TContainerKind::Cab: break;
  }
  switch (Container.Slot) {
    case TSignatureSlot::Absent: return DISPLAYED_TEXT("StripSignature", "文件没有签名");
    case TSignatureSlot::Malformed:
    case TSignatureSlot::Misplaced: return CutFailed;
    case TSignatureSlot::Present: break;
  }
  return nullptr;
}

void WriteAt(int Fd, std::span<const std::uint8_t> Bytes, std::uint64_t Pos) {
  if (::pwrite(Fd, Bytes.data(), Bytes.size(), static_cast<off_t>(Pos)) != static_cast<ssize_t>(Bytes.size()))
    throw TReplaceError(TReplaceError::TKind::System, errno);
}

// The program up to its certificate table, with the checksum and the certificate entry cleared.
bool WriteStrippedPe(int Original, int New, const TSignedContainer& Pe) {
  if (CopyFileRange(Original, 0, New, 0, Pe.Signature.Pos) != Pe.Signature.Pos) return false;
  static constexpr std::array<std::uint8_t, 8> Zeros{};
  WriteAt(New, std::span(Zeros).first(4), Pe.CheckSumPos);
  WriteAt(New, Zeros, Pe.CertEntryPos);
  return true;
}

// The cabinet as it was before it was signed: without the signature, and without the reserve
// that recorded it (the reserve sizes and the 20 reserved bytes), every offset moved back.
bool WriteStrippedCab(int Original, int New, const TSignedContainer& Cab) {
  constexpr std::size_t FixedHeader = 36;
  constexpr std::size_t SignedHeader = 60;
  constexpr std::uint32_t Reserve = SignedHeader - FixedHeader;
  constexpr std::uint16_t ReservePresent = 0x0004;
  constexpr std::size_t FolderSize = 8;
  const std::optional<std::vector<std::uint8_t>> Head = ReadAt(Original, 0, SignedHeader);
  if (!Head) return false;
  const std::uint32_t FilesPos = ReadLe32(*Head, 16);
  std::optional<std::vector<std::uint8_t>> Header = ReadAt(Original, 0, FilesPos);
  if (!Header) return false;
  // The locator checked that the folder entries end where the file entries begin.
  const std::size_t Folders = ReadLe16(*Header, 26);
  for (std::size_t Folder = 0; Folder < Folders; ++Folder) {
    const std::size_t Entry = FilesPos - (Folders - Folder) * FolderSize;
    PutLe32(*Header, Entry, ReadLe32(*Header, Entry) - Reserve);
  }
  PutLe32(*Header, 8, static_cast<std::uint32_t>(Cab.Signature.Pos) - Reserve);  // cbCabinet
  PutLe32(*Header, 16, FilesPos - Reserve);
  const std::uint16_t Flags = ReadLe16(*Header, 30) & ~ReservePresent;
  (*Header)[30] = static_cast<std::uint8_t>(Flags);
  (*Header)[31] = static_cast<std::uint8_t>(Flags >> 8);
  Header->erase(Header->begin() + FixedHeader, Header->begin() + SignedHeader);
  WriteAt(New, *Header, 0);
  const std::uint64_t Rest = Cab.Signature.Pos - FilesPos;
  return CopyFileRange(Original, FilesPos, New, FilesPos - Reserve, Rest) == Rest;
}
}  // namespace

bool StripSignature(const std::string& Path, std::string& ErrorText) {
  TFileReplacement File;
  TSignedContainer Container;
  if (const char* Message = Refusal(File, Path, Container)) {
    ErrorText = Message;
    return false;
  }
  try {
    File.CheckWritable();
    const int New = File.Temporary();
    const bool Written = Container.Kind == TContainerKind::Pe ? WriteStrippedPe(File.Original(), New, Container)
                                                              : WriteStrippedCab(File.Original(), New, Container);
    if (!Written) {
      ErrorText = CutFailed;  // the file became shorter meanwhile
      return false;
    }
    File.Commit();
  } catch (const TReplaceError& Error) {
    switch (Error.Kind) {
      case TReplaceError::TKind::Locked: ErrorText = OpenFailed; return false;
      case TReplaceError::TKind::Changed: ErrorText = CutFailed; return false;
      case TReplaceError::TKind::InUse: ErrorText = BeingWritten; return false;
      case TReplaceError::TKind::NotWritable:
      case TReplaceError::TKind::System: ThrowCannotCreate(Path, std::strerror(Error.Error));
    }
  }
  return true;
}
