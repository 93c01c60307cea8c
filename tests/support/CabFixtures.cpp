#include "support/CabFixtures.h"

#include <algorithm>

namespace {
constexpr std::size_t HeaderSize = 36;
constexpr std::size_t FolderSize = 8;
constexpr std::size_t FileEntrySize = 16;
constexpr std::size_t DataHeaderSize = 8;
constexpr std::size_t MaxBlock = 32768;

void Put16(std::vector<std::uint8_t>& Out, std::size_t Value) {
  Out.push_back(static_cast<std::uint8_t>(Value));
  Out.push_back(static_cast<std::uint8_t>(Value >> 8));
}

void Put32(std::vector<std::uint8_t>& Out, std::size_t Value) {
  Put16(Out, Value & 0xFFFF);
  Put16(Out, (Value >> 16) & 0xFFFF);
}
}  // namespace

std::vector<std::uint8_t> BuildCab(const std::string& Name, const std::string& Content) {
  const std::size_t Blocks = std::max<std::size_t>(1, (Content.size() + MaxBlock - 1) / MaxBlock);
  const std::size_t FilesAt = HeaderSize + FolderSize;
  const std::size_t DataAt = FilesAt + FileEntrySize + Name.size() + 1;
  const std::size_t Total = DataAt + Blocks * DataHeaderSize + Content.size();

  std::vector<std::uint8_t> Out{'M', 'S', 'C', 'F'};
  Put32(Out, 0);
  Put32(Out, Total);  // cbCabinet
  Put32(Out, 0);
  Put32(Out, FilesAt);  // coffFiles
  Put32(Out, 0);
  Out.push_back(3);  // version 1.3
  Out.push_back(1);
  Put16(Out, 1);  // folders
  Put16(Out, 1);  // files
  Put16(Out, 0);  // flags
  Put16(Out, 0x5157);  // set id
  Put16(Out, 0);  // number of this cabinet in its set

  Put32(Out, DataAt);  // folder: first data block
  Put16(Out, Blocks);
  Put16(Out, 0);  // stored, no compression

  Put32(Out, Content.size());  // file: size, offset in folder, folder, date, time, attributes
  Put32(Out, 0);
  Put16(Out, 0);
  Put16(Out, ((2024 - 1980) << 9) | (1 << 5) | 1);
  Put16(Out, 12 << 11);
  Put16(Out, 0x20);  // archive
  Out.insert(Out.end(), Name.begin(), Name.end());
  Out.push_back(0);

  for (std::size_t Block = 0; Block < Blocks; ++Block) {
    const std::size_t Start = Block * MaxBlock;
    const std::size_t Size = std::min(MaxBlock, Content.size() - std::min(Start, Content.size()));
    Put32(Out, 0);  // no checksum
    Put16(Out, Size);
    Put16(Out, Size);
    Out.insert(Out.end(), Content.begin() + static_cast<std::ptrdiff_t>(Start),
               Content.begin() + static_cast<std::ptrdiff_t>(Start + Size));
  }
  return Out;
}
