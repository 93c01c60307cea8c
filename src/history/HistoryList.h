#pragma once
// A history box's entries in its section of config.ini. The history itself is the keys 1, 2,
// 3, … in the order the window shows them; a key of any other name ("big", "a", "01") is read
// like them but belongs to whoever wrote it and is never written or copied.
#include <string>
#include <string_view>
#include <vector>

class THistoryStore;

// The value of every key of Section in file order, as read (trimmed), when it is not empty.
std::vector<std::string> HistoryEntries(const THistoryStore& Store, std::string_view Section);

// Writes a window's Entries (in its order, duplicates as it has them) as the keys 1..N of
// Section, merged, each time the store is saved, with what the file then holds:
//  - an entry that a key of another name holds stays only there;
//  - then follow the history's entries that the window does not have (another window saved
//    them), in file order, each once; an empty value is no entry;
//  - a numbered key beyond N is deleted: its value is among the N.
// Entries compare ignoring ASCII case, as the window's own list does. An entry that a key
// already holds leaves its line as it is, byte for byte.
void WriteHistory(THistoryStore& Store, std::string_view Section, std::vector<std::string> Entries);
