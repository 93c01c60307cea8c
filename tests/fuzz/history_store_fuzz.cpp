// config.ini as anything may have left it: loading, listing and reading never fail, values
// stay within their limits, and a written value reads back.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "history/HistorySections.h"
#include "history/HistoryStore.h"

namespace {
// The file each input is written to, removed when the fuzzer exits.
struct TScratchFile {
  std::string Path = "/tmp/quillory-history-fuzz-" + std::to_string(::getpid()) + ".ini";
  ~TScratchFile() { std::remove(Path.c_str()); }
};

const std::string& ScratchFile() {
  static const TScratchFile File;
  return File.Path;
}

bool IsBlank(char C) { return static_cast<unsigned char>(C) <= 32; }

void Require(bool Condition) {
  if (!Condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  {
    std::ofstream Out(ScratchFile(), std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
  }
  THistoryStore Store(ScratchFile());
  for (const char* Section : HistorySections) {
    for (const std::string& Key : Store.Keys(Section)) {
      const std::string Value = Store.Read(Section, Key);
      Require(Value.size() <= THistoryStore::MaxValueLength);
      Require(Value.empty() || (!IsBlank(Value.front()) && !IsBlank(Value.back())));
    }
    const std::string Next = std::to_string(Store.Keys(Section).size() + 1);
    Store.Write(Section, Next, "fuzz value");
    Require(Store.Read(Section, Next) == "fuzz value");
    for (const std::string& Key : Store.Keys(Section)) Store.Delete(Section, Key);
    Require(Store.Keys(Section).empty());
  }
  return 0;
}
