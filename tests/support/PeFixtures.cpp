#include "support/PeFixtures.h"

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {
constexpr std::uint32_t FileAlignment = 0x200;
constexpr std::uint32_t SectionAlignment = 0x1000;
constexpr std::uint32_t NtOffset = 0x80;
constexpr std::uint32_t SectionHeaderSize = 40;
constexpr std::uint32_t DirectoryCount = 16;
constexpr std::uint32_t ResourceDirectory = 2;

// A 16-bit stub that prints the usual notice and exits when started under DOS.
constexpr std::array<std::uint8_t, 14> DosStubCode{0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09,
                                                   0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
constexpr char DosStubText[] = "This program cannot be run in DOS mode.\r\r\n$";

std::uint32_t AlignUp(std::uint32_t Value, std::uint32_t Alignment) {
  return (Value + Alignment - 1) / Alignment * Alignment;
}

class TImageWriter {
 public:
  explicit TImageWriter(std::vector<std::uint8_t>& Image) : Image(Image) {}
  void Put16(std::size_t Pos, std::uint16_t Value) { PutBytes(Pos, Value, 2); }
  void Put32(std::size_t Pos, std::uint32_t Value) { PutBytes(Pos, Value, 4); }
  void Put64(std::size_t Pos, std::uint64_t Value) { PutBytes(Pos, Value, 8); }
  void PutRaw(std::size_t Pos, const void* Data, std::size_t Length) {
    if (Pos + Length > Image.size()) throw std::logic_error("PE fixture write out of range");
    std::memcpy(Image.data() + Pos, Data, Length);
  }

 private:
  void PutBytes(std::size_t Pos, std::uint64_t Value, std::size_t Width) {
    if (Pos + Width > Image.size()) throw std::logic_error("PE fixture write out of range");
    for (std::size_t I = 0; I < Width; ++I) Image[Pos + I] = static_cast<std::uint8_t>(Value >> (8 * I));
  }
  std::vector<std::uint8_t>& Image;
};

struct TSection {
  const char* Name;
  std::uint32_t VirtualAddress;
  std::uint32_t VirtualSize;
  std::uint32_t RawPos;
  std::uint32_t RawSize;
  std::uint32_t Characteristics;
};

std::vector<std::uint8_t> EntryCode(TPeKind Kind) {
  switch (Kind) {
    case TPeKind::Exe32:
    case TPeKind::Exe64: return {0x31, 0xC0, 0xC3};                          // xor eax,eax; ret
    case TPeKind::Dll32: return {0xB8, 0x01, 0x00, 0x00, 0x00, 0xC2, 0x0C, 0x00};  // mov eax,1; ret 12
    case TPeKind::Dll64: return {0xB8, 0x01, 0x00, 0x00, 0x00, 0xC3};        // mov eax,1; ret
  }
  return {};
}

// One RT_RCDATA resource, id 1, language 0x409, holding a short text; positions are relative to
// the start of the section, the data entry carries the data's address in memory.
std::vector<std::uint8_t> ResourceTree(std::uint32_t SectionRva) {
  std::vector<std::uint8_t> Tree(0x80, 0);
  TImageWriter Writer(Tree);
  const auto Directory = [&](std::size_t Pos, std::uint32_t Id, std::uint32_t Target) {
    Writer.Put16(Pos + 14, 1);  // NumberOfIdEntries
    Writer.Put32(Pos + 16, Id);
    Writer.Put32(Pos + 20, Target);
  };
  constexpr std::uint32_t Subdirectory = 0x80000000;
  Directory(0x00, 10, Subdirectory | 0x18);  // type RT_RCDATA
  Directory(0x18, 1, Subdirectory | 0x30);   // name 1
  Directory(0x30, 0x409, 0x48);              // language -> data entry
  constexpr char Data[] = "Quillory fixture";
  Writer.Put32(0x48, SectionRva + 0x58);
  Writer.Put32(0x4C, sizeof(Data));
  Writer.PutRaw(0x58, Data, sizeof(Data));
  return Tree;
}
}  // namespace

std::vector<std::uint8_t> BuildPe(const TPeOptions& Options) {
  const bool Is64 = Options.Kind == TPeKind::Exe64 || Options.Kind == TPeKind::Dll64;
  const bool IsDll = Options.Kind == TPeKind::Dll32 || Options.Kind == TPeKind::Dll64;
  const std::uint32_t OptionalHeaderSize = Is64 ? 240 : 224;
  const std::uint32_t SectionCount = Options.WithResourceSection ? 2 : 1;
  const std::uint32_t SectionTablePos = NtOffset + 4 + 20 + OptionalHeaderSize;
  const std::uint32_t HeadersSize =
      AlignUp(SectionTablePos + SectionCount * SectionHeaderSize, FileAlignment);

  const std::vector<std::uint8_t> Code = EntryCode(Options.Kind);
  const std::uint32_t ResourceRawSize = Options.WithResourceSection ? FileAlignment : 0;
  std::uint32_t TextRawSize = AlignUp(static_cast<std::uint32_t>(Code.size()), FileAlignment);
  const std::size_t WithoutPadding = HeadersSize + TextRawSize + ResourceRawSize;
  if (Options.MinimumSize > WithoutPadding)
    TextRawSize += AlignUp(static_cast<std::uint32_t>(Options.MinimumSize - WithoutPadding), FileAlignment);

  std::vector<TSection> Sections;
  Sections.push_back({".text", SectionAlignment, TextRawSize, HeadersSize, TextRawSize, 0x60000020});
  if (Options.WithResourceSection) {
    const std::uint32_t Rva = SectionAlignment + AlignUp(TextRawSize, SectionAlignment);
    Sections.push_back({".rsrc", Rva, 0x80, HeadersSize + TextRawSize, ResourceRawSize, 0x40000040});
  }
  const TSection& Last = Sections.back();
  const std::uint32_t ImageSize = Last.VirtualAddress + AlignUp(Last.VirtualSize, SectionAlignment);

  std::vector<std::uint8_t> Image(HeadersSize + TextRawSize + ResourceRawSize, 0);
  TImageWriter Writer(Image);

  // DOS header and stub.
  Writer.PutRaw(0, "MZ", 2);
  Writer.Put16(0x02, 0x90);  // bytes on last page
  Writer.Put16(0x04, 3);     // pages
  Writer.Put16(0x08, 4);     // header paragraphs
  Writer.Put16(0x0C, 0xFFFF);
  Writer.Put16(0x10, 0xB8);  // initial SP
  Writer.Put16(0x18, 0x40);  // relocation table
  Writer.Put32(0x3C, NtOffset);
  Writer.PutRaw(0x40, DosStubCode.data(), DosStubCode.size());
  Writer.PutRaw(0x40 + DosStubCode.size(), DosStubText, sizeof(DosStubText) - 1);

  // NT signature and file header.
  Writer.PutRaw(NtOffset, "PE\0\0", 4);
  const std::uint32_t FileHeader = NtOffset + 4;
  Writer.Put16(FileHeader + 0, Is64 ? 0x8664 : 0x014C);
  Writer.Put16(FileHeader + 2, static_cast<std::uint16_t>(SectionCount));
  Writer.Put32(FileHeader + 4, 0x65000000);  // a fixed build time keeps fixtures reproducible
  Writer.Put16(FileHeader + 16, static_cast<std::uint16_t>(OptionalHeaderSize));
  std::uint16_t Characteristics = 0x0002;    // executable image
  Characteristics |= Is64 ? 0x0020 : 0x0100; // large address aware / 32-bit machine
  if (IsDll) Characteristics |= 0x2000;
  Writer.Put16(FileHeader + 18, Characteristics);

  // Optional header: the fields up to SizeOfHeaders sit at the same places in both forms, apart
  // from BaseOfData (PE32 only) sharing room with the wider ImageBase.
  const std::uint32_t Optional = FileHeader + 20;
  Writer.Put16(Optional + 0, Is64 ? 0x20B : 0x10B);
  Writer.Put16(Optional + 2, 14);  // linker version 14.0
  Writer.Put32(Optional + 4, TextRawSize);      // SizeOfCode
  Writer.Put32(Optional + 8, ResourceRawSize);  // SizeOfInitializedData
  Writer.Put32(Optional + 16, SectionAlignment);  // AddressOfEntryPoint
  Writer.Put32(Optional + 20, SectionAlignment);  // BaseOfCode
  if (Is64) {
    Writer.Put64(Optional + 24, IsDll ? 0x180000000ULL : 0x140000000ULL);
  } else {
    Writer.Put32(Optional + 24, Sections.back().VirtualAddress);  // BaseOfData
    Writer.Put32(Optional + 28, IsDll ? 0x10000000 : 0x00400000);
  }
  Writer.Put32(Optional + 32, SectionAlignment);
  Writer.Put32(Optional + 36, FileAlignment);
  Writer.Put16(Optional + 40, 6);  // operating system version
  Writer.Put16(Optional + 48, 6);  // subsystem version
  Writer.Put32(Optional + 56, ImageSize);
  Writer.Put32(Optional + 60, HeadersSize);
  Writer.Put16(Optional + 68, 3);       // console subsystem
  Writer.Put16(Optional + 70, 0x0100);  // NX compatible
  const std::uint32_t Sizes = Optional + 72;
  const std::uint32_t SizeWidth = Is64 ? 8 : 4;
  const std::array<std::uint64_t, 4> StackAndHeap{0x100000, 0x1000, 0x100000, 0x1000};
  for (std::size_t I = 0; I < StackAndHeap.size(); ++I) {
    if (Is64)
      Writer.Put64(Sizes + I * SizeWidth, StackAndHeap[I]);
    else
      Writer.Put32(Sizes + I * SizeWidth, static_cast<std::uint32_t>(StackAndHeap[I]));
  }
  const std::uint32_t RvaCountPos = Sizes + 4 * SizeWidth + 4;  // after LoaderFlags
  Writer.Put32(RvaCountPos, DirectoryCount);
  const std::uint32_t Directories = RvaCountPos + 4;
  if (Options.WithResourceSection) {
    Writer.Put32(Directories + 8 * ResourceDirectory, Sections[1].VirtualAddress);
    Writer.Put32(Directories + 8 * ResourceDirectory + 4, Sections[1].VirtualSize);
  }

  for (std::size_t I = 0; I < Sections.size(); ++I) {
    const TSection& Section = Sections[I];
    const std::size_t Pos = SectionTablePos + I * SectionHeaderSize;
    Writer.PutRaw(Pos, Section.Name, std::strlen(Section.Name));
    Writer.Put32(Pos + 8, Section.VirtualSize);
    Writer.Put32(Pos + 12, Section.VirtualAddress);
    Writer.Put32(Pos + 16, Section.RawSize);
    Writer.Put32(Pos + 20, Section.RawPos);
    Writer.Put32(Pos + 36, Section.Characteristics);
  }

  Writer.PutRaw(Sections[0].RawPos, Code.data(), Code.size());
  if (Options.WithResourceSection) {
    const std::vector<std::uint8_t> Tree = ResourceTree(Sections[1].VirtualAddress);
    Writer.PutRaw(Sections[1].RawPos, Tree.data(), Tree.size());
  }
  return Image;
}

void WriteBytes(const std::string& Path, std::span<const std::uint8_t> Bytes) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  Out.close();
  if (!Out) throw std::runtime_error("cannot write " + Path);
}

std::vector<std::uint8_t> ReadBytes(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) throw std::runtime_error("cannot read " + Path);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}
