#include "FileArguments.h"

#include <glob.h>
#include <sys/stat.h>

#include <fstream>

#include "CommandOutput.h"

namespace {
bool Exists(const std::string& Path) {
  struct stat Info {};
  return ::lstat(Path.c_str(), &Info) == 0;
}

bool IsPattern(const std::string& Word) { return Word.find_first_of("*?[") != std::string::npos && !Exists(Word); }

// Appends the pattern's matches in sorted order; false when nothing matches.
bool AddMatches(const std::string& Pattern, std::vector<std::string>& Files) {
  glob_t Matches{};
  const int Result = ::glob(Pattern.c_str(), GLOB_ERR, nullptr, &Matches);
  if (Result == 0)
    for (std::size_t I = 0; I < Matches.gl_pathc; ++I) Files.emplace_back(Matches.gl_pathv[I]);
  ::globfree(&Matches);
  return Result == 0;
}

bool AddWord(const std::string& Word, std::vector<std::string>& Files, std::string& Error) {
  if (!IsPattern(Word)) {
    Files.push_back(Word);
    return true;
  }
  if (AddMatches(Word, Files)) return true;
  Error = Say(TMessage::NoFileMatches, {Word});
  return false;
}
}  // namespace

TFileArguments ExpandFileArguments(const std::vector<std::string>& Words) {
  TFileArguments Result;
  for (const std::string& Word : Words) {
    if (Word.size() > 1 && Word[0] == '@' && !Exists(Word)) {
      const std::string ListPath = Word.substr(1);
      std::ifstream List(ListPath);
      if (!List) return {{}, Say(TMessage::FileListUnreadable, {ListPath})};
      std::string Line;
      while (std::getline(List, Line)) {
        if (!Line.empty() && Line.back() == '\r') Line.pop_back();
        if (Line.empty()) continue;
        if (!AddWord(Line, Result.Files, Result.Error)) return {{}, Result.Error};
      }
      continue;
    }
    if (!AddWord(Word, Result.Files, Result.Error)) return {{}, Result.Error};
  }
  if (Result.Files.empty()) return {{}, Say(TMessage::MissingFilename)};
  return Result;
}
