#include "support/CabFixtures.h"

#include <algorithm>

#include "common/ByteWriter.h"

namespace {
constexpr std::size_t HeaderSize = 36;
constexpr std::size_t FolderSize = 8;
constexpr std::size_t FileEntrySize = 16;
constexpr std::size_t DataHeaderSize = 8;
constexpr std::size_t MaxBlock = 32768;
}  // namespace

std::vector<std::uint8_t> BuildCab(const std::string& Name, const std::string& Content) {
  const std::size_t Blocks = std::max<std::size_t>(1, (Content.size() + MaxBlock - 1) / MaxBlock);
  const std::size_t FilesAt = HeaderSize + FolderSize;
  const std::size_t DataAt = FilesAt + FileEntrySize + Name.size() + 1;
  const std::size_t Total = DataAt + Blocks * DataHeaderSize + Content.size();

  std::vector<std::uint8_t> Out{'M', 'S', 'C', 'F'};
  AppendLe32(Out, 0);
  AppendLe32(Out, Total);  // cbCabinet
  AppendLe32(Out, 0);
  AppendLe32(Out, FilesAt);  // coffFiles
  AppendLe32(Out, 0);
  Out.push_back(3);  // version 1.3
  Out.push_back(1);
  AppendLe16(Out, 1);  // folders
  AppendLe16(Out, 1);  // files
  AppendLe16(Out, 0);  // flags
  AppendLe16(Out, 0x5157);  // set id
  AppendLe16(Out, 0);  // number of this cabinet in its set

  AppendLe32(Out, DataAt);  // folder: first data block
  AppendLe16(Out, Blocks);
  AppendLe16(Out, 0);  // stored, no compression

  AppendLe32(Out, Content.size());  // file: size, offset in folder, folder, date, time, attributes
  AppendLe32(Out, 0);
  AppendLe16(Out, 0);
  AppendLe16(Out, ((2024 - 1980) << 9) | (1 << 5) | 1);
  AppendLe16(Out, 12 << 11);
  AppendLe16(Out, 0x20);  // archive
  Out.insert(Out.end(), Name.begin(), Name.end());
  Out.push_back(0);

  for (std::size_t Block = 0; Block < Blocks; ++Block) {
    const std::size_t Start = Block * MaxBlock;
    const std::size_t Size = std::min(MaxBlock, Content.size() - std::min(Start, Content.size()));
    AppendLe32(Out, 0);  // no checksum
    AppendLe16(Out, Size);
    AppendLe16(Out, Size);
    Out.insert(Out.end(), Content.begin() + static_cast<std::ptrdiff_t>(Start),
               Content.begin() + static_cast<std::ptrdiff_t>(Start + Size));
  }
  return Out;
}
