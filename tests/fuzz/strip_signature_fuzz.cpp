// Feeds arbitrary files to the signature stripper. Besides memory errors it checks the stripper's
// promises: a refused file is left as it was; a stripped program is a prefix of the original with
// at most the checksum and certificate entry (12 bytes) cleared; a stripped cabinet lost its
// signature and the 24 bytes that recorded it, and its file entries and data are unchanged.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "common/ByteReader.h"
#include "common/uPubFunc.h"

namespace {
std::string Folder;

void RemoveSampleFolder() {
  std::remove((Folder + "/sample.exe").c_str());
  ::rmdir(Folder.c_str());
}

const std::string& SamplePath() {
  static const std::string Path = [] {
    char Template[] = "/tmp/quillory-strip-fuzz-XXXXXX";
    if (::mkdtemp(Template) == nullptr) std::abort();
    Folder = Template;
    std::atexit(RemoveSampleFolder);
    return Folder + "/sample.exe";
  }();
  return Path;
}

std::vector<std::uint8_t> ReadAll(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string& Path = SamplePath();
  const std::vector<std::uint8_t> Input(Data, Data + Size);
  {
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
  }
  std::string ErrorText;
  const bool Stripped = StripSignature(Path, ErrorText);
  const std::vector<std::uint8_t> Result = ReadAll(Path);

  if (!Stripped) {
    if (ErrorText.empty() || Result != Input) std::abort();
    return 0;
  }
  if (!ErrorText.empty() || Result.size() > Input.size() || Result.size() == 0) std::abort();
  if (Size >= 60 && std::equal(Data, Data + 4, "MSCF")) {
    const std::uint32_t SignaturePos = ReadLe32(Input, 44);
    const std::uint32_t FilesPos = ReadLe32(Input, 16);
    constexpr std::uint32_t Reserve = 24;
    if (Result.size() != SignaturePos - Reserve ||
        !std::equal(Input.begin() + FilesPos, Input.begin() + SignaturePos, Result.begin() + (FilesPos - Reserve)))
      std::abort();
    return 0;
  }
  std::size_t Cleared = 0;
  for (std::size_t I = 0; I < Result.size(); ++I) {
    if (Result[I] == Input[I]) continue;
    if (Result[I] != 0) std::abort();
    ++Cleared;
  }
  if (Cleared > 12) std::abort();
  return 0;
}
