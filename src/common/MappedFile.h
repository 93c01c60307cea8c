#pragma once
// A whole file mapped read-only into memory for as long as the object lives.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

class TMappedFile {
 public:
  enum class TOpenResult {
    Ok,
    OpenFailed,     // missing, unreadable, or not a regular file
    MappingFailed,  // nothing to map (an empty file) or its size cannot be read
    ViewFailed      // the system refused the mapping
  };

  TMappedFile() = default;
  ~TMappedFile() { Close(); }
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;

  TOpenResult Open(const std::string& Path);
  void Close();

  std::span<const std::uint8_t> Bytes() const { return {Data, Size}; }

  // Maps in the pages of a range about to be read in one go (for example handed to write(),
  // which copies much faster from pages already present). Only a hint.
  void Prefault(std::size_t Pos, std::size_t Length) const;

 private:
  int Descriptor = -1;
  const std::uint8_t* Data = nullptr;
  std::size_t Size = 0;
};
