// An update server's answer as anything may send it, in pieces of any size: reading never fails,
// the body stays within its limit, and how the bytes were split changes nothing.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/HttpResponseReader.h"

namespace {
constexpr std::size_t MaxBody = 4096;

void Require(bool Condition) {
  if (!Condition) std::abort();
}

THttpResponseReader ReadInPieces(std::string_view Bytes, std::size_t Piece) {
  THttpResponseReader Reader(MaxBody);
  while (!Bytes.empty() && Reader.State() == THttpResponseReader::TState::More) {
    const std::size_t Size = std::min(Piece, Bytes.size());
    Reader.Feed(Bytes.substr(0, Size));
    Bytes.remove_prefix(Size);
  }
  Reader.End();
  return Reader;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size == 0) return 0;
  const std::size_t Piece = 1 + Data[0] % 64;
  const std::string_view Bytes(reinterpret_cast<const char*>(Data) + 1, Size - 1);
  const THttpResponseReader Whole = ReadInPieces(Bytes, Bytes.size() + 1);
  const THttpResponseReader Split = ReadInPieces(Bytes, Piece);
  Require(Whole.State() != THttpResponseReader::TState::More);
  Require(Whole.State() == Split.State());
  if (Whole.State() == THttpResponseReader::TState::Done) {
    Require(Whole.Body().size() <= MaxBody);
    Require(Whole.Status() >= 200 && Whole.Status() <= 999);
    Require(Whole.Status() == Split.Status() && Whole.Body() == Split.Body());
  }
  return 0;
}
