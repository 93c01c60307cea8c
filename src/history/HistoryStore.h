#pragma once
// config.ini with the rules of the Windows profile functions: section and key names match
// without regard to ASCII case, keys keep their file order, values are trimmed on reading and
// entries are written as key=value. A CRLF file with a UTF-8 byte-order mark loads as well.
// The whole file is read when the store is opened and replaced in one piece by Save().
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class THistoryStore {
 public:
  static constexpr std::size_t MaxValueLength = 2047;

  // Reads Path; a missing or unreadable file gives an empty store.
  explicit THistoryStore(std::string Path);
  ~THistoryStore();
  THistoryStore(const THistoryStore&) = delete;
  THistoryStore& operator=(const THistoryStore&) = delete;

  const std::string& Path() const { return FPath; }

  // The key names of Section in file order; empty when the section does not exist.
  std::vector<std::string> Keys(std::string_view Section) const;
  // The value of Key, at most MaxValueLength bytes, trimmed; empty when missing.
  std::string Read(std::string_view Section, std::string_view Key) const;

  // Replaces the value in place, or appends the key at the end of its section, creating the
  // section at the end of the file. Line breaks in Value become blanks: a value is one line.
  void Write(std::string_view Section, std::string_view Key, std::string_view Value);
  // Removes the key's line; the section header stays.
  void Delete(std::string_view Section, std::string_view Key);

  // Replaces the file through a temporary file and a rename, creating it when needed.
  // Throws std::runtime_error("Unable to write to <full path>") when that fails.
  void Save() const;

 private:
  struct TData;
  std::string FPath;
  std::unique_ptr<TData> FData;
  bool FHasBom = false;
  // The file exists but could not be read: saving would destroy what it holds.
  bool FUnreadable = false;
};
