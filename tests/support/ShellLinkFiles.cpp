#include "support/ShellLinkFiles.h"

#include <array>
#include <span>

namespace {
class TWriter {
 public:
  std::vector<std::uint8_t> Bytes;

  std::size_t Pos() const { return Bytes.size(); }
  void U16(std::size_t Value) {
    Bytes.push_back(static_cast<std::uint8_t>(Value));
    Bytes.push_back(static_cast<std::uint8_t>(Value >> 8));
  }
  void U32(std::uint32_t Value) {
    U16(Value & 0xFFFF);
    U16(Value >> 16);
  }
  void Zeros(std::size_t Count) { Bytes.resize(Bytes.size() + Count, 0); }
  void Raw(std::span<const std::uint8_t> Data) {
    for (const std::uint8_t Byte : Data) Bytes.push_back(Byte);
  }
  void Ansi(const std::string& Text) {
    for (const char C : Text) Bytes.push_back(static_cast<std::uint8_t>(C));
    Bytes.push_back(0);
  }
  void Unicode(const std::u16string& Text) {
    for (const char16_t Unit : Text) U16(Unit);
    U16(0);
  }
  void PatchU32(std::size_t At, std::uint32_t Value) {
    for (int I = 0; I < 4; ++I) Bytes[At + static_cast<std::size_t>(I)] = static_cast<std::uint8_t>(Value >> (8 * I));
  }
};

constexpr std::array<std::uint8_t, 16> Clsid = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

void WriteHeader(TWriter& Out, const TShellLinkLayout& Layout) {
  Out.U32(0x4C);
  Out.Raw(Clsid);
  std::uint32_t Flags = 0x80;  // IsUnicode
  if (Layout.WithIdList) Flags |= 0x01;
  if (Layout.WithLinkInfo) Flags |= 0x02;
  Out.U32(Flags);
  Out.U32(0x20);  // FileAttributes: archive
  Out.Zeros(8 * 3);
  Out.U32(4096);  // FileSize
  Out.U32(0);     // IconIndex
  Out.U32(1);     // ShowCommand: normal
  Out.Zeros(2 + 2 + 4 + 4);
}

void WriteIdList(TWriter& Out) {
  // One item (a "My Computer" root folder item) and the terminating empty item.
  constexpr std::array<std::uint8_t, 18> RootItem = {0x1F, 0x50, 0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                   0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
  Out.U16(2 + RootItem.size() + 2);
  Out.U16(2 + RootItem.size());
  Out.Raw(RootItem);
  Out.U16(0);
}

void WriteLinkInfo(TWriter& Out, const TShellLinkLayout& Layout) {
  const bool Local = !Layout.LocalBasePath.empty() || !Layout.LocalBasePathUnicode.empty();
  const bool Network = !Layout.NetName.empty() || !Layout.NetNameUnicode.empty();
  const bool UnicodeHeader = !Layout.LocalBasePathUnicode.empty() || !Layout.CommonPathSuffixUnicode.empty();
  const std::uint32_t HeaderSize = UnicodeHeader ? 0x24 : 0x1C;

  const std::size_t Start = Out.Pos();
  Out.U32(0);  // LinkInfoSize, patched below
  Out.U32(HeaderSize);
  Out.U32((Local ? 1u : 0u) | (Network ? 2u : 0u));
  const std::size_t Offsets = Out.Pos();
  Out.Zeros(HeaderSize - 12);
  const auto Here = [&] { return static_cast<std::uint32_t>(Out.Pos() - Start); };

  if (Local) {
    Out.PatchU32(Offsets, Here());  // VolumeID: fixed drive, empty label
    Out.U32(0x11);
    Out.U32(3);
    Out.U32(0x1234ABCD);
    Out.U32(0x10);
    Out.Zeros(1);
    Out.PatchU32(Offsets + 4, Here());
    Out.Ansi(Layout.LocalBasePath);
  }
  if (Network) {
    Out.PatchU32(Offsets + 8, Here());
    const bool UnicodeName = !Layout.NetNameUnicode.empty();
    const std::size_t NetworkStart = Out.Pos();
    const std::uint32_t FixedSize = UnicodeName ? 0x1C : 0x14;
    Out.U32(0);  // size, patched below
    Out.U32(0);  // no device name, no provider type
    Out.U32(FixedSize);
    Out.U32(0);
    Out.U32(0);
    if (UnicodeName) Out.Zeros(8);
    Out.Ansi(Layout.NetName);
    if (UnicodeName) {
      Out.PatchU32(NetworkStart + 0x14, static_cast<std::uint32_t>(Out.Pos() - NetworkStart));
      Out.Unicode(Layout.NetNameUnicode);
    }
    Out.PatchU32(NetworkStart, static_cast<std::uint32_t>(Out.Pos() - NetworkStart));
  }
  Out.PatchU32(Offsets + 12, Here());
  Out.Ansi(Layout.CommonPathSuffix);
  if (UnicodeHeader) {
    if (!Layout.LocalBasePathUnicode.empty()) {
      Out.PatchU32(Offsets + 16, Here());
      Out.Unicode(Layout.LocalBasePathUnicode);
    }
    Out.PatchU32(Offsets + 20, Here());
    Out.Unicode(Layout.CommonPathSuffixUnicode);
  }
  Out.PatchU32(Start, Here());
}
}  // namespace

TShellLinkBytes BuildShellLink(const TShellLinkLayout& Layout) {
  TWriter Out;
  WriteHeader(Out, Layout);
  if (Layout.WithIdList) WriteIdList(Out);
  TShellLinkBytes Result;
  Result.LinkInfoPos = Out.Pos();
  if (Layout.WithLinkInfo) WriteLinkInfo(Out, Layout);
  Result.LinkInfoEnd = Out.Pos();
  Out.U32(0);  // terminal extra-data block
  Result.Bytes = std::move(Out.Bytes);
  return Result;
}

std::vector<std::uint8_t> ShellLinkTo(const std::string& Target) {
  TShellLinkLayout Layout;
  Layout.LocalBasePath = Target;
  return BuildShellLink(Layout).Bytes;
}
