#include "history/HistoryStore.h"

// Header-only use of the 8-bit class, whose text passes through unconverted (UTF-8 here).
#define SI_IMPLEMENTATION
#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "common/SafeFileWrite.h"
#include "common/TextUtil.h"

struct THistoryStore::TData {
  // ASCII-case-insensitive names; several lines with one key are kept so that a read sees the
  // first of them, as the profile functions do.
  CSimpleIniA Ini{false, true, false};
};

namespace {
std::string FullPath(const std::string& Path) {
  std::error_code Error;
  const std::filesystem::path Absolute = std::filesystem::absolute(Path, Error);
  return Error ? Path : Absolute.lexically_normal().string();
}

bool ReadWholeFile(const std::string& Path, std::string& Content) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  try {
    Content.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  } catch (const std::ios_base::failure&) {
    return false;  // a folder, or a read error
  }
  return !In.bad();
}

std::string OneLine(std::string_view Value) {
  std::string Result(Value);
  std::replace_if(Result.begin(), Result.end(), [](char C) { return C == '\r' || C == '\n'; }, ' ');
  return Result;
}
}  // namespace

THistoryStore::THistoryStore(std::string Path) : FPath(std::move(Path)), FData(std::make_unique<TData>()) {
  FData->Ini.SetSpaces(false);
  std::error_code Error;
  if (!std::filesystem::exists(FPath, Error)) return;
  std::string Content;
  if (!ReadWholeFile(FPath, Content)) {
    FUnreadable = true;
    return;
  }
  FHasBom = Content.size() >= 3 && Content.compare(0, 3, "\xEF\xBB\xBF") == 0;
  if (FData->Ini.LoadData(Content) < 0) {
    FData->Ini.Reset();
    FUnreadable = true;
  }
}

THistoryStore::~THistoryStore() = default;

std::vector<std::string> THistoryStore::Keys(std::string_view Section) const {
  CSimpleIniA::TNamesDepend Names;
  FData->Ini.GetAllKeys(std::string(Section).c_str(), Names);
  Names.sort(CSimpleIniA::Entry::LoadOrder());
  std::vector<std::string> Result;
  Result.reserve(Names.size());
  for (const auto& Name : Names) Result.emplace_back(Name.pItem);
  return Result;
}

std::string THistoryStore::Read(std::string_view Section, std::string_view Key) const {
  const char* Value = FData->Ini.GetValue(std::string(Section).c_str(), std::string(Key).c_str(), "");
  return Trim(CutUtf8(Value, MaxValueLength));
}

void THistoryStore::Write(std::string_view Section, std::string_view Key, std::string_view Value) {
  const SI_Error Result = FData->Ini.SetValue(std::string(Section).c_str(), std::string(Key).c_str(),
                                              OneLine(Value).c_str(), nullptr, true);
  if (Result < 0) throw std::runtime_error("Unable to write to " + FullPath(FPath));
}

void THistoryStore::Delete(std::string_view Section, std::string_view Key) {
  FData->Ini.Delete(std::string(Section).c_str(), std::string(Key).c_str(), false);
}

void THistoryStore::Save() const {
  const std::string Failure = "Unable to write to " + FullPath(FPath);
  std::string Content;
  if (FUnreadable || FData->Ini.Save(Content, FHasBom) < 0) throw std::runtime_error(Failure);
  try {
    WriteFileAtomically(FPath, {reinterpret_cast<const std::uint8_t*>(Content.data()), Content.size()});
  } catch (const std::exception&) {
    throw std::runtime_error(Failure);
  }
}
