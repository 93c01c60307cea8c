// config.ini as anything may have left it: loading, listing and reading never fail, values
// stay within their limits, a written value reads back, an untouched text comes back byte for
// byte, an edit of one section leaves the others alone, and a history written back loses none of
// its entries.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "common/TextUtil.h"
#include "history/HistoryList.h"
#include "history/HistorySections.h"
#include "history/HistoryStore.h"
#include "history/IniDocument.h"

namespace {
// The file each input is written to, removed when the fuzzer exits.
struct TScratchFile {
  std::string Path = "/tmp/quillory-history-fuzz-" + std::to_string(::getpid()) + ".ini";
  ~TScratchFile() { std::remove(Path.c_str()); }
};

const std::string& ScratchFile() {
  static const TScratchFile File;
  return File.Path;
}

bool IsBlank(char C) { return static_cast<unsigned char>(C) <= 32; }

void Require(bool Condition) {
  if (!Condition) std::abort();
}


// Edits made through the document itself, without a file.
void CheckDocument(std::string_view Text) {
  const TIniDocument Untouched(Text);
  Require(Untouched.Text() == Text);

  // A key added to a new section goes to the very end: everything before stays.
  TIniDocument Added(Text);
  Added.SetValue("Fuzz-Only Section", "k", "v");
  if (AsciiLower(Text).find("fuzz-only section") == std::string::npos)
    Require(Added.Text().compare(0, Text.size(), Text) == 0);
  Require(Added.Value("fuzz-only section", "K") == "v");

  // Deleting and rewriting keys of a section never touches the lines of another section.
  TIniDocument Edited(Text);
  for (const std::string& Key : Edited.Keys("File")) Edited.Delete("File", Key);
  Edited.SetValue("File", "1", "x\r\ny");
  Require(Edited.Keys("File").size() == 1 && Edited.Value("File", "1") == "x  y");
  for (const char* Section : HistorySections)
    if (std::string_view(Section) != "File") Require(Edited.Keys(Section) == Untouched.Keys(Section));
}
bool IsHistoryKey(std::string_view Key) {
  return !Key.empty() && Key.front() != '0' && Key.find_first_not_of("0123456789") == std::string_view::npos;
}

// Writing a history back loses no entry, touches no key of another name and numbers its keys
// from 1 without a gap.
void CheckHistoryMerge(THistoryStore& Store, const char* Section) {
  std::set<std::string> Before;
  std::map<std::string, std::string> Named;
  for (const std::string& Key : Store.Keys(Section))
    if (!IsHistoryKey(Key)) Named[Key] = Store.Read(Section, Key);
  for (const std::string& Entry : HistoryEntries(Store, Section)) Before.insert(AsciiLower(Entry));
  WriteHistory(Store, Section, HistoryEntries(Store, Section));
  std::set<std::string> After;
  for (const std::string& Entry : HistoryEntries(Store, Section)) After.insert(AsciiLower(Entry));
  Require(Before == After);
  std::set<std::string> Numbered;
  for (const std::string& Key : Store.Keys(Section)) {
    if (IsHistoryKey(Key)) {
      Numbered.insert(Key);
    } else {
      Require(Named.count(Key) == 1 && Named[Key] == Store.Read(Section, Key));
    }
  }
  for (std::size_t N = 1; N <= Numbered.size(); ++N) Require(Numbered.count(std::to_string(N)) == 1);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  CheckDocument(std::string_view(reinterpret_cast<const char*>(Data), Size));
  {
    std::ofstream Out(ScratchFile(), std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
  }
  THistoryStore Store(ScratchFile());
  for (const char* Section : HistorySections) CheckHistoryMerge(Store, Section);
  for (const char* Section : HistorySections) {
    for (const std::string& Key : Store.Keys(Section)) {
      const std::string Value = Store.Read(Section, Key);
      Require(Value.size() <= THistoryStore::MaxValueLength);
      Require(Value.empty() || (!IsBlank(Value.front()) && !IsBlank(Value.back())));
    }
    const std::string Next = std::to_string(Store.Keys(Section).size() + 1);
    Store.Write(Section, Next, "fuzz value");
    Require(Store.Read(Section, Next) == "fuzz value");
    for (const std::string& Key : Store.Keys(Section)) Store.Delete(Section, Key);
    Require(Store.Keys(Section).empty());
  }
  return 0;
}
