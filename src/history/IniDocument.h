#pragma once
// The text of an INI file, edited line by line so that every line an edit does not touch stays
// as it was, byte for byte: comments, lines without "=", lines before the first section,
// sections and keys nobody asks for, bytes no reader understands (a NUL included), a leading
// byte-order mark and the line ends, each CR LF, LF or CR.
//
// Section and key names match without regard to ASCII case and without surrounding blanks. A
// section may appear under several headers; its keys are those under all of them, in file
// order, and a key that appears twice reads as its first line.
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TIniDocument {
 public:
  TIniDocument() = default;
  explicit TIniDocument(std::string_view Text);

  std::string Text() const;

  // The distinct key names of Section in file order, each as first spelt; empty when the
  // section does not exist.
  std::vector<std::string> Keys(std::string_view Section) const;
  // Everything after the first "=" of the key's first line, untrimmed; nullopt when missing.
  std::optional<std::string> Value(std::string_view Section, std::string_view Key) const;

  // Replaces the value of the key's first line, keeping the text up to its "=", or adds the
  // key after the last key or header of its section, adding the section at the end of the text.
  // A value is one line: CR, LF and NUL in Value become blanks.
  void SetValue(std::string_view Section, std::string_view Key, std::string_view Value);
  // Removes every line of the key in the section; the headers stay.
  void Delete(std::string_view Section, std::string_view Key);

 private:
  struct TLine {
    std::string Text;
    std::string End;  // "\r\n", "\n", "\r", or empty for a last line without one
    bool Removed = false;
  };
  using TLineIt = std::list<TLine>::iterator;
  struct TKey {
    std::string Name;
    std::vector<TLineIt> Lines;
  };
  struct TSection {
    TLineIt Last;  // the section's last header or key line: where a new key goes
    std::list<TKey> Keys;
    std::unordered_map<std::string, std::list<TKey>::iterator> KeyByName;  // lower-cased
  };

  TSection& AddSection(std::string_view Name, TLineIt Header);
  void AddKey(TSection& Section, std::string_view Name, TLineIt Line);
  TLineIt InsertAfter(TLineIt Position, std::string Text);
  const TSection* FindSection(std::string_view Name) const;
  const TKey* FindKey(const TSection& Section, std::string_view Name) const;

  std::string ByteOrderMark;
  std::list<TLine> Lines;
  std::string LineEnd = "\n";  // the file's own, for added lines
  std::unordered_map<std::string, TSection> Sections;  // lower-cased names
};
