#pragma once
// config.ini with the rules of the Windows profile functions: section and key names match
// without regard to ASCII case, keys keep their file order, values are trimmed on reading and
// entries are written as key=value. Any section and key can be read and written, and whatever
// the store does not touch is written back as it was (see TIniDocument).
//
// The whole file is read when the store is opened. Edits change what the store reads at once
// and are kept: Save() locks the file, reads it again and makes the same edits to what it holds
// then, so that what another program (another window) saved meanwhile is not lost.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "history/IniDocument.h"

class THistoryStore {
 public:
  static constexpr std::size_t MaxValueLength = 2047;
  // Far beyond any file of histories and settings; a bigger one is not read.
  static constexpr std::size_t MaxFileSize = 16 * 1024 * 1024;

  // Reads Path. A missing file gives an empty store; so does one that cannot be read (not a
  // regular file, too big, no permission), which Save() then refuses to replace.
  explicit THistoryStore(std::string Path);

  const std::string& Path() const { return FPath; }

  // The key names of Section in file order; empty when the section does not exist.
  std::vector<std::string> Keys(std::string_view Section) const;
  // The value of Key up to its first NUL, at most MaxValueLength bytes, trimmed; empty when
  // missing.
  std::string Read(std::string_view Section, std::string_view Key) const;

  // Replaces the value in place (a key that already reads as Value is left as it is), or appends
  // the key at the end of its section, creating the section at the end of the file. Line breaks
  // in Value become blanks: a value is one line.
  void Write(std::string_view Section, std::string_view Key, std::string_view Value);
  // Removes the key's line; the section header stays.
  void Delete(std::string_view Section, std::string_view Key);
  // Makes Change now and again on saving, to the store as the file then reads. Change reads and
  // edits the store it is given, so that it can decide anew on what another program saved.
  void Edit(std::function<void(THistoryStore&)> Change);

  // Makes this store's edits to what the file holds now and replaces it through a temporary
  // file and a rename, creating it when needed; a symbolic link stays and its target is
  // replaced. The file is locked meanwhile; another save of it is waited for (a few seconds at
  // most). Throws std::runtime_error("Unable to write to <full path>") when that fails, when the
  // file cannot be read, and when it has no write permission at all.
  void Save();

 private:
  std::string FPath;
  TIniDocument FDocument;
  // The file exists but could not be read: saving would destroy what it holds.
  bool FUnreadable = false;
  std::vector<std::function<void(THistoryStore&)>> FEdits;
  bool FInsideEdit = false;  // a change being made: what it does is part of it, not an edit of its own
};
