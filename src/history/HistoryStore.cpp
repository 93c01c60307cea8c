#include "history/HistoryStore.h"

#include <filesystem>
#include <stdexcept>

#include "common/SafeFileWrite.h"
#include "common/SmallFileRead.h"
#include "common/TextUtil.h"

namespace {
std::string FullPath(const std::string& Path) {
  std::error_code Error;
  const std::filesystem::path Absolute = std::filesystem::absolute(Path, Error);
  return Error ? Path : Absolute.lexically_normal().string();
}
}  // namespace

THistoryStore::THistoryStore(std::string Path) : FPath(std::move(Path)) {
  std::string Content;
  switch (ReadSmallFile(FPath, MaxFileSize, Content)) {
    case TSmallFileRead::Read: FDocument = TIniDocument(Content); break;
    case TSmallFileRead::Missing: break;
    case TSmallFileRead::Unreadable: FUnreadable = true; break;
  }
}

std::vector<std::string> THistoryStore::Keys(std::string_view Section) const { return FDocument.Keys(Section); }

std::string THistoryStore::Read(std::string_view Section, std::string_view Key) const {
  const std::string Value = FDocument.Value(Section, Key).value_or("");
  return Trim(CutUtf8(std::string_view(Value).substr(0, Value.find('\0')), MaxValueLength));
}

void THistoryStore::Write(std::string_view Section, std::string_view Key, std::string_view Value) {
  // A line that already reads as Value keeps its own bytes (blanks around the value, and
  // whatever follows a NUL).
  if (FDocument.Value(Section, Key) && Read(Section, Key) == Value) return;
  FDocument.SetValue(Section, Key, Value);
}

void THistoryStore::Delete(std::string_view Section, std::string_view Key) { FDocument.Delete(Section, Key); }

void THistoryStore::Save() const {
  const std::string Failure = "Unable to write to " + FullPath(FPath);
  if (FUnreadable || IsReadOnlyFile(FPath)) throw std::runtime_error(Failure);
  const std::string Content = FDocument.Text();
  try {
    WriteFileAtomically(FPath, {reinterpret_cast<const std::uint8_t*>(Content.data()), Content.size()});
  } catch (const std::exception&) {
    throw std::runtime_error(Failure);
  }
}
