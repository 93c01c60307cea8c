// Removing the Authenticode certificate table from a PE file.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <variant>
#include <vector>

#include "common/DisplayedText.h"
#include "common/FileReader.h"
#include "common/PeHeaders.h"
#include "common/SafeFileWrite.h"
#include "common/uPubFunc.h"

namespace {
constexpr const char* OpenFailed = DISPLAYED_TEXT("StripSignature", "打开文件失败");
constexpr const char* CutFailed = DISPLAYED_TEXT("StripSignature", "修改签名失败");

std::string FullPath(const std::string& Path) {
  std::error_code Ignored;
  const std::filesystem::path Absolute = std::filesystem::absolute(Path, Ignored);
  return Absolute.empty() ? Path : Absolute.string();
}

[[noreturn]] void ThrowCannotCreate(const std::string& Path, const std::string& SystemText) {
  throw std::runtime_error("Cannot create file \"" + FullPath(Path) + "\". " + SystemText);
}

// A cut anywhere before the end of the headers and the section table, or through a section's
// data, would leave a damaged program behind.
bool CutIsSafe(const TPeHeaders& Headers) {
  if (!Headers.Sections) return false;
  const std::uint64_t HeadersEnd =
      std::max({std::uint64_t{Headers.HeadersEnd}, std::uint64_t{Headers.SizeOfHeaders}, Headers.SectionTableEnd});
  if (Headers.CertOffset < HeadersEnd) return false;
  return std::none_of(Headers.Sections->begin(), Headers.Sections->end(), [&](const TPeSection& Section) {
    return Headers.CertOffset >= Section.RawPos &&
           Headers.CertOffset - std::uint64_t{Section.RawPos} < Section.RawSize;
  });
}

// Opens, locks and reads the headers; the message saying why the file cannot be stripped, or
// nullptr.
const char* Refusal(TFileReplacement& File, const std::string& Path, TPeHeaders& Headers) {
  switch (File.Open(Path, false)) {
    case TFileReplacement::TOpenResult::Opened: break;
    case TFileReplacement::TOpenResult::Created:
    case TFileReplacement::TOpenResult::NotRegular:
    case TFileReplacement::TOpenResult::Locked:
    case TFileReplacement::TOpenResult::Failed: return OpenFailed;
  }
  const auto Size = static_cast<std::uint64_t>(File.OriginalInfo().st_size);
  if (Size == 0) return DISPLAYED_TEXT("StripSignature", "创建映射失败");
  const std::optional<std::vector<std::uint8_t>> Head = ReadPeHeaderBytes(File.Original(), Size);
  if (!Head) return DISPLAYED_TEXT("StripSignature", "读取映射失败");
  const auto Parsed = ReadPeHeaders(*Head);
  if (const auto* Error = std::get_if<TPeFormatError>(&Parsed))
    return *Error == TPeFormatError::NotMz ? DISPLAYED_TEXT("StripSignature", "无法识别格式")
                                           : DISPLAYED_TEXT("StripSignature", "非法的PE文件");
  Headers = std::get<TPeHeaders>(Parsed);
  if (!Headers.CertEntryPos || Headers.CertSize == 0) return DISPLAYED_TEXT("StripSignature", "文件没有签名");
  if (Headers.CertOffset > Size || !CutIsSafe(Headers)) return CutFailed;
  return nullptr;
}
}  // namespace

bool StripSignature(const std::string& Path, std::string& ErrorText) {
  TFileReplacement File;
  TPeHeaders Headers;
  if (const char* Message = Refusal(File, Path, Headers)) {
    ErrorText = Message;
    return false;
  }
  try {
    File.CheckWritable();
    // The new file is the original up to the certificate table, with the checksum and the
    // certificate entry cleared.
    const int New = File.Temporary();
    if (CopyFileRange(File.Original(), 0, New, 0, Headers.CertOffset) != Headers.CertOffset) {
      ErrorText = CutFailed;  // the file became shorter meanwhile
      return false;
    }
    static constexpr std::array<std::uint8_t, 8> Zeros{};
    if (::pwrite(New, Zeros.data(), 4, Headers.CheckSumPos) != 4 ||
        ::pwrite(New, Zeros.data(), 8, *Headers.CertEntryPos) != 8)
      throw TReplaceError(TReplaceError::TKind::System, errno);
    File.Commit();
  } catch (const TReplaceError& Error) {
    switch (Error.Kind) {
      case TReplaceError::TKind::Locked: ErrorText = OpenFailed; return false;
      case TReplaceError::TKind::Changed: ErrorText = CutFailed; return false;
      case TReplaceError::TKind::NotWritable:
      case TReplaceError::TKind::System: ThrowCannotCreate(Path, std::strerror(Error.Error));
    }
  }
  return true;
}
