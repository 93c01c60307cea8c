#include "history/HistoryList.h"

#include <algorithm>
#include <unordered_set>

#include "common/TextUtil.h"
#include "history/HistoryStore.h"

namespace {
// "1", "2", …: digits without a leading zero.
bool IsHistoryKey(std::string_view Key) {
  return !Key.empty() && Key.front() != '0' &&
         std::all_of(Key.begin(), Key.end(), [](char C) { return C >= '0' && C <= '9'; });
}

// Whether Key names a position beyond Count; Key is a history key.
bool IsBeyond(std::string_view Key, std::size_t Count) {
  const std::string Last = std::to_string(Count);
  return Key.size() != Last.size() ? Key.size() > Last.size() : Key > Last;
}

void MergeHistory(THistoryStore& Store, const std::string& Section, const std::vector<std::string>& Entries) {
  const std::vector<std::string> Keys = Store.Keys(Section);
  std::unordered_set<std::string> Taken;  // ASCII-lower-cased values
  for (const std::string& Key : Keys) {
    if (IsHistoryKey(Key)) continue;
    const std::string Value = Store.Read(Section, Key);
    if (!Value.empty()) Taken.insert(AsciiLower(Value));
  }

  std::vector<std::string> Merged;
  for (const std::string& Entry : Entries)
    if (Taken.count(AsciiLower(Entry)) == 0) Merged.push_back(Entry);
  for (const std::string& Entry : Merged) Taken.insert(AsciiLower(Entry));
  for (const std::string& Key : Keys) {
    if (!IsHistoryKey(Key)) continue;
    const std::string Value = Store.Read(Section, Key);
    if (!Value.empty() && Taken.insert(AsciiLower(Value)).second) Merged.push_back(Value);
  }

  for (std::size_t I = 0; I < Merged.size(); ++I) Store.Write(Section, std::to_string(I + 1), Merged[I]);
  for (const std::string& Key : Keys)
    if (IsHistoryKey(Key) && IsBeyond(Key, Merged.size())) Store.Delete(Section, Key);
}
}  // namespace

std::vector<std::string> HistoryEntries(const THistoryStore& Store, std::string_view Section) {
  std::vector<std::string> Entries;
  for (const std::string& Key : Store.Keys(Section)) {
    std::string Value = Store.Read(Section, Key);
    if (!Value.empty()) Entries.push_back(std::move(Value));
  }
  return Entries;
}

void WriteHistory(THistoryStore& Store, std::string_view Section, std::vector<std::string> Entries) {
  Store.Edit([Section = std::string(Section), Entries = std::move(Entries)](THistoryStore& Current) {
    MergeHistory(Current, Section, Entries);
  });
}
