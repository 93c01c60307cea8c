// Removing the Authenticode certificate table from a PE file.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <variant>
#include <vector>


#include "common/DisplayedText.h"
#include "common/MappedFile.h"
#include "common/PeHeaders.h"
#include "common/SafeFileWrite.h"
#include "common/uPubFunc.h"

namespace {
std::string FullPath(const std::string& Path) {
  std::error_code Ignored;
  const std::filesystem::path Absolute = std::filesystem::absolute(Path, Ignored);
  return Absolute.empty() ? Path : Absolute.string();
}

[[noreturn]] void ThrowCannotCreate(const std::string& Path, const std::string& SystemText) {
  throw std::runtime_error("Cannot create file \"" + FullPath(Path) + "\". " + SystemText);
}

void ZeroRange(std::vector<std::uint8_t>& Buffer, std::size_t Pos, std::size_t Length) {
  if (Pos > Buffer.size() || Length > Buffer.size() - Pos)
    throw std::logic_error("header field outside the kept bytes");
  std::memset(Buffer.data() + Pos, 0, Length);
}

// Maps the file and reads its headers; the message saying why it cannot be stripped, or nullptr.
const char* Refusal(TMappedFile& File, const std::string& Path, TPeHeaders& Headers) {
  switch (File.Open(Path)) {
    case TMappedFile::TOpenResult::Ok: break;
    case TMappedFile::TOpenResult::OpenFailed: return DISPLAYED_TEXT("StripSignature", "打开文件失败");
    case TMappedFile::TOpenResult::MappingFailed: return DISPLAYED_TEXT("StripSignature", "创建映射失败");
    case TMappedFile::TOpenResult::ViewFailed: return DISPLAYED_TEXT("StripSignature", "读取映射失败");
  }
  const auto Parsed = ReadPeHeaders(File.Bytes());
  if (const auto* Error = std::get_if<TPeFormatError>(&Parsed))
    return *Error == TPeFormatError::NotMz ? DISPLAYED_TEXT("StripSignature", "无法识别格式") : DISPLAYED_TEXT("StripSignature", "非法的PE文件");
  Headers = std::get<TPeHeaders>(Parsed);
  if (!Headers.CertEntryPos || Headers.CertSize == 0) return DISPLAYED_TEXT("StripSignature", "文件没有签名");
  // Cutting at or before the end of the NT headers would destroy the headers themselves.
  if (Headers.CertOffset <= Headers.HeadersEnd || Headers.CertOffset > File.Bytes().size())
    return DISPLAYED_TEXT("StripSignature", "修改签名失败");
  return nullptr;
}
}  // namespace

bool StripSignature(const std::string& Path, std::string& ErrorText) {
  TMappedFile File;
  TPeHeaders Headers;
  if (const char* Message = Refusal(File, Path, Headers)) {
    ErrorText = Message;
    return false;
  }
  // The NT headers get their checksum and certificate entry cleared; what follows them up to the
  // certificate table is written straight from the mapping.
  const std::span<const std::uint8_t> Image = File.Bytes();
  std::vector<std::uint8_t> NtHeaders(Image.begin(), Image.begin() + Headers.HeadersEnd);
  ZeroRange(NtHeaders, Headers.CheckSumPos, 4);
  ZeroRange(NtHeaders, *Headers.CertEntryPos, 8);
  const std::size_t RestLength = Headers.CertOffset - Headers.HeadersEnd;
  const std::span<const std::uint8_t> Rest = Image.subspan(Headers.HeadersEnd, RestLength);
  File.Prefault(Headers.HeadersEnd, RestLength);

  if (IsReadOnlyFile(Path)) ThrowCannotCreate(Path, std::strerror(EACCES));
  try {
    WritePiecesAtomically(Path, {NtHeaders, Rest});
  } catch (const std::runtime_error& Error) {
    ThrowCannotCreate(Path, Error.what());
  }
  return true;
}
