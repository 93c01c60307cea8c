#include "common/ShellLinkReader.h"

#include <array>
#include <cstddef>

#include "common/ByteReader.h"

namespace {
constexpr std::uint32_t HeaderSize = 0x4C;
// {00021401-0000-0000-C000-000000000046} as it is stored.
constexpr std::array<std::uint8_t, 16> ShellLinkClsid = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::size_t LinkFlagsPos = 0x14;

enum : std::uint32_t {
  lfHasLinkTargetIdList = 0x01,
  lfHasLinkInfo = 0x02,
  lfForceNoLinkInfo = 0x100,
};

// LinkInfo fields, from the start of the structure.
constexpr std::uint32_t LinkInfoMinHeaderSize = 0x1C;
constexpr std::uint32_t LinkInfoUnicodeHeaderSize = 0x24;
constexpr std::size_t LiHeaderSizePos = 0x04;
constexpr std::size_t LiFlagsPos = 0x08;
constexpr std::size_t LiLocalBasePathPos = 0x10;
constexpr std::size_t LiNetworkLinkPos = 0x14;
constexpr std::size_t LiPathSuffixPos = 0x18;
constexpr std::size_t LiLocalBasePathUnicodePos = 0x1C;
constexpr std::size_t LiPathSuffixUnicodePos = 0x20;
enum : std::uint32_t { liVolumeIdAndLocalBasePath = 0x01, liNetworkLinkAndPathSuffix = 0x02 };

// CommonNetworkRelativeLink fields, from the start of that structure.
constexpr std::uint32_t NetworkLinkMinSize = 0x14;
constexpr std::size_t NlNetNamePos = 0x08;
constexpr std::size_t NlNetNameUnicodePos = 0x14;

using TBytes = std::span<const std::uint8_t>;

std::optional<std::uint32_t> Field32(TBytes Bytes, std::size_t Pos) {
  if (!Fits(Bytes, Pos, 4)) return std::nullopt;
  return ReadLe32(Bytes, Pos);
}

// A zero-terminated 8-bit string starting at Pos inside Bytes, without its terminator.
std::optional<std::string> AnsiString(TBytes Bytes, std::size_t Pos) {
  for (std::size_t End = Pos; End < Bytes.size(); ++End)
    if (Bytes[End] == 0) return std::string(Bytes.begin() + static_cast<std::ptrdiff_t>(Pos),
                                            Bytes.begin() + static_cast<std::ptrdiff_t>(End));
  return std::nullopt;
}

void AppendUtf8(std::string& Text, char32_t Code) {
  if (Code < 0x80) {
    Text += static_cast<char>(Code);
  } else if (Code < 0x800) {
    Text += static_cast<char>(0xC0 | (Code >> 6));
    Text += static_cast<char>(0x80 | (Code & 0x3F));
  } else if (Code < 0x10000) {
    Text += static_cast<char>(0xE0 | (Code >> 12));
    Text += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Text += static_cast<char>(0x80 | (Code & 0x3F));
  } else {
    Text += static_cast<char>(0xF0 | (Code >> 18));
    Text += static_cast<char>(0x80 | ((Code >> 12) & 0x3F));
    Text += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Text += static_cast<char>(0x80 | (Code & 0x3F));
  }
}

bool IsHighSurrogate(std::uint32_t Unit) { return Unit >= 0xD800 && Unit <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t Unit) { return Unit >= 0xDC00 && Unit <= 0xDFFF; }

// A zero-terminated UTF-16LE string starting at Pos inside Bytes, as UTF-8. A surrogate without
// its partner becomes U+FFFD.
std::optional<std::string> UnicodeString(TBytes Bytes, std::size_t Pos) {
  std::string Text;
  for (std::size_t At = Pos; Fits(Bytes, At, 2); At += 2) {
    const std::uint32_t Unit = ReadLe16(Bytes, At);
    if (Unit == 0) return Text;
    if (IsHighSurrogate(Unit) && Fits(Bytes, At + 2, 2) && IsLowSurrogate(ReadLe16(Bytes, At + 2))) {
      const std::uint32_t Low = ReadLe16(Bytes, At + 2);
      AppendUtf8(Text, 0x10000 + ((Unit - 0xD800) << 10) + (Low - 0xDC00));
      At += 2;
    } else if (IsHighSurrogate(Unit) || IsLowSurrogate(Unit)) {
      AppendUtf8(Text, 0xFFFD);
    } else {
      AppendUtf8(Text, Unit);
    }
  }
  return std::nullopt;
}

// The UTF-16 string whose offset is stored at UnicodePos when the structure has that field and it
// is set; otherwise the 8-bit string whose offset is stored at AnsiPos.
std::optional<std::string> PreferUnicode(TBytes Structure, bool HasUnicodeFields, std::size_t AnsiPos,
                                         std::size_t UnicodePos) {
  if (HasUnicodeFields) {
    const auto UnicodeOffset = Field32(Structure, UnicodePos);
    if (!UnicodeOffset) return std::nullopt;
    if (*UnicodeOffset != 0) return UnicodeString(Structure, *UnicodeOffset);
  }
  const auto AnsiOffset = Field32(Structure, AnsiPos);
  if (!AnsiOffset) return std::nullopt;
  return AnsiString(Structure, *AnsiOffset);
}

std::string JoinSuffix(std::string Base, const std::string& Suffix) {
  if (Suffix.empty()) return Base;
  if (!Base.empty() && Base.back() != '\\' && Suffix.front() != '\\') Base += '\\';
  return Base + Suffix;
}

std::optional<std::string> NetworkName(TBytes LinkInfo, std::uint32_t Offset) {
  const auto Size = Field32(LinkInfo, Offset);
  if (!Size || *Size < NetworkLinkMinSize || !Fits(LinkInfo, Offset, *Size)) return std::nullopt;
  const TBytes NetworkLink = LinkInfo.subspan(Offset, *Size);
  const std::uint32_t NetNameOffset = ReadLe32(NetworkLink, NlNetNamePos);
  // The UTF-16 offsets exist only when the 8-bit name starts after them.
  const bool HasUnicodeFields = NetNameOffset > NetworkLinkMinSize;
  return PreferUnicode(NetworkLink, HasUnicodeFields, NlNetNamePos, NlNetNameUnicodePos);
}

std::optional<std::string> LinkInfoTarget(TBytes LinkInfo) {
  const std::uint32_t InfoHeaderSize = ReadLe32(LinkInfo, LiHeaderSizePos);
  if (InfoHeaderSize < LinkInfoMinHeaderSize || InfoHeaderSize > LinkInfo.size()) return std::nullopt;
  const bool HasUnicodeFields = InfoHeaderSize >= LinkInfoUnicodeHeaderSize;
  const std::uint32_t InfoFlags = ReadLe32(LinkInfo, LiFlagsPos);

  std::optional<std::string> Base;
  if (InfoFlags & liVolumeIdAndLocalBasePath) {
    Base = PreferUnicode(LinkInfo, HasUnicodeFields, LiLocalBasePathPos, LiLocalBasePathUnicodePos);
  } else if (InfoFlags & liNetworkLinkAndPathSuffix) {
    Base = NetworkName(LinkInfo, ReadLe32(LinkInfo, LiNetworkLinkPos));
  } else {
    return std::string();
  }
  if (!Base) return std::nullopt;
  const auto Suffix = PreferUnicode(LinkInfo, HasUnicodeFields, LiPathSuffixPos, LiPathSuffixUnicodePos);
  if (!Suffix) return std::nullopt;
  return JoinSuffix(*Base, *Suffix);
}
}  // namespace

std::optional<std::string> ReadShellLinkTarget(TBytes Bytes) {
  if (!Fits(Bytes, 0, HeaderSize) || ReadLe32(Bytes, 0) != HeaderSize) return std::nullopt;
  for (std::size_t I = 0; I < ShellLinkClsid.size(); ++I)
    if (Bytes[4 + I] != ShellLinkClsid[I]) return std::nullopt;
  const std::uint32_t Flags = ReadLe32(Bytes, LinkFlagsPos);

  std::size_t Pos = HeaderSize;
  if (Flags & lfHasLinkTargetIdList) {
    if (!Fits(Bytes, Pos, 2)) return std::nullopt;
    const std::size_t IdListSize = ReadLe16(Bytes, Pos);
    Pos += 2;
    if (!Fits(Bytes, Pos, IdListSize)) return std::nullopt;
    Pos += IdListSize;
  }
  if (!(Flags & lfHasLinkInfo) || (Flags & lfForceNoLinkInfo)) return std::string();

  const auto InfoSize = Field32(Bytes, Pos);
  if (!InfoSize || *InfoSize < LinkInfoMinHeaderSize || !Fits(Bytes, Pos, *InfoSize)) return std::nullopt;
  return LinkInfoTarget(Bytes.subspan(Pos, *InfoSize));
}
