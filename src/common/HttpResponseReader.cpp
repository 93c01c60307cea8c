#include "common/HttpResponseReader.h"

#include <algorithm>

#include "common/TextUtil.h"

namespace {
constexpr std::size_t MaxChunkSizeLine = 1024;

bool IsDigit(char C) { return C >= '0' && C <= '9'; }

// "HTTP/1.x 200 OK": the status code, or nullopt.
std::optional<int> StatusOf(std::string_view Line) {
  if (Line.size() < 12 || Line.substr(0, 7) != "HTTP/1." || !IsDigit(Line[7]) || Line[8] != ' ') return std::nullopt;
  if (!IsDigit(Line[9]) || !IsDigit(Line[10]) || !IsDigit(Line[11])) return std::nullopt;
  if (Line.size() > 12 && Line[12] != ' ') return std::nullopt;
  return (Line[9] - '0') * 100 + (Line[10] - '0') * 10 + (Line[11] - '0');
}

std::optional<std::size_t> DecimalOf(std::string_view Text) {
  // 18 digits cannot overflow; no real length comes near.
  if (Text.empty() || Text.size() > 18 || !std::all_of(Text.begin(), Text.end(), IsDigit)) return std::nullopt;
  std::size_t Value = 0;
  for (char C : Text) Value = Value * 10 + static_cast<std::size_t>(C - '0');
  return Value;
}

// The size at the start of a chunk-size line; extensions after ";" are ignored.
std::optional<std::size_t> ChunkSizeOf(std::string_view Line) {
  std::size_t Value = 0;
  std::size_t Digits = 0;
  for (; Digits < Line.size() && HexValue(Line[Digits]) >= 0; ++Digits) {
    if (Digits == 15) return std::nullopt;
    Value = Value * 16 + static_cast<std::size_t>(HexValue(Line[Digits]));
  }
  if (Digits == 0) return std::nullopt;
  const std::string Rest = Trim(Line.substr(Digits));
  if (!Rest.empty() && Rest.front() != ';') return std::nullopt;
  return Value;
}

std::string_view WithoutCr(std::string_view Line) {
  if (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
  return Line;
}
}  // namespace

THttpResponseReader::TState THttpResponseReader::State() const {
  if (Part == TPart::Done) return TState::Done;
  if (Part == TPart::Failed) return TState::Failed;
  return TState::More;
}

THttpResponseReader::TState THttpResponseReader::Feed(std::string_view Bytes) {
  if (State() != TState::More) return State();
  Pending.erase(0, Pos);
  Scanned -= std::min(Scanned, Pos);
  Pos = 0;
  Pending.append(Bytes);
  for (;;) {
    const TPart Before = Part;
    const std::size_t PosBefore = Pos;
    Part = Step();
    if (State() != TState::More || (Part == Before && Pos == PosBefore)) break;
  }
  return State();
}

THttpResponseReader::TState THttpResponseReader::End() {
  if (Part == TPart::BodyUntilEnd) Part = TPart::Done;
  if (Part != TPart::Done) Part = TPart::Failed;
  return State();
}

THttpResponseReader::TPart THttpResponseReader::Step() {
  switch (Part) {
    case TPart::Head: return StepHead();
    case TPart::Body:
    case TPart::ChunkData: {
      const std::size_t Taken = std::min(Remaining, Unread());
      Content.append(Pending, Pos, Taken);
      Pos += Taken;
      Remaining -= Taken;
      if (Remaining > 0) return Part;
      return Part == TPart::Body ? TPart::Done : TPart::ChunkEnd;
    }
    case TPart::BodyUntilEnd:
      Content.append(Pending, Pos);
      Pos = Pending.size();
      return Content.size() > MaxBodyBytes ? TPart::Failed : Part;
    case TPart::ChunkSize: return StepChunkSize();
    case TPart::ChunkEnd: return StepChunkEnd();
    case TPart::Trailer: return StepTrailer();
    case TPart::Done:
    case TPart::Failed: break;
  }
  return Part;
}

THttpResponseReader::TPart THttpResponseReader::StepHead() {
  // The head ends with an empty line, its line ends being CR LF or LF.
  std::optional<std::size_t> HeadEnd;
  std::size_t At = std::max(Scanned, Pos);
  for (; At < Pending.size(); ++At) {
    if (Pending[At] != '\n') continue;
    std::size_t Next = At + 1;
    if (Next < Pending.size() && Pending[Next] == '\r') ++Next;
    if (Next >= Pending.size()) break;  // undecided until more arrives
    if (Pending[Next] == '\n') {
      HeadEnd = Next + 1;
      break;
    }
  }
  Scanned = At;
  // Counted alike whether the head came in one piece or not: a head still incomplete never holds
  // its last byte.
  if (!HeadEnd) return Unread() > MaxHeadBytes ? TPart::Failed : TPart::Head;
  if (*HeadEnd - Pos - 1 > MaxHeadBytes || !ReadHead(std::string_view(Pending).substr(Pos, *HeadEnd - Pos)))
    return TPart::Failed;
  Pos = *HeadEnd;
  Scanned = Pos;
  if (StatusCode < 200) {  // an interim answer; the real one follows
    Chunked = false;
    Length.reset();
    return TPart::Head;
  }
  if (StatusCode == 204 || StatusCode == 304) return TPart::Done;
  if (Chunked) return TPart::ChunkSize;
  if (!Length) return TPart::BodyUntilEnd;
  if (*Length > MaxBodyBytes) return TPart::Failed;
  Remaining = *Length;
  return Remaining == 0 ? TPart::Done : TPart::Body;
}

std::optional<std::string> THttpResponseReader::Field(std::string_view Name) const {
  for (const auto& [FieldName, Value] : Fields)
    if (SameTextAscii(FieldName, Name)) return Value;
  return std::nullopt;
}

bool THttpResponseReader::ReadHead(std::string_view Head) {
  Fields.clear();
  bool First = true;
  while (!Head.empty()) {
    const std::size_t Feed = Head.find('\n');
    const std::string_view Line = WithoutCr(Head.substr(0, Feed));
    Head.remove_prefix(Feed == std::string_view::npos ? Head.size() : Feed + 1);
    if (First) {
      const std::optional<int> Status = StatusOf(Line);
      if (!Status) return false;
      StatusCode = *Status;
      First = false;
      continue;
    }
    if (Line.empty()) break;
    const std::size_t Colon = Line.find(':');
    // A name is one token; a line beginning with a blank would continue the previous field,
    // which is no longer allowed.
    if (Colon == std::string_view::npos || Colon == 0 || Line.substr(0, Colon).find_first_of(" \t") != std::string_view::npos)
      return false;
    if (Fields.size() == MaxHeaderFields) return false;
    const std::string_view Name = Line.substr(0, Colon);
    const std::string Value = Trim(Line.substr(Colon + 1));
    Fields.emplace_back(Name, Value);
    if (SameTextAscii(Name, "Content-Length")) {
      const std::optional<std::size_t> Given = DecimalOf(Value);
      if (!Given || (Length && *Length != *Given)) return false;
      Length = Given;
    } else if (SameTextAscii(Name, "Transfer-Encoding")) {
      const std::size_t Comma = Value.rfind(',');
      Chunked = SameTextAscii(Trim(Comma == std::string::npos ? Value : Value.substr(Comma + 1)), "chunked");
    }
  }
  return !First;
}

std::optional<std::string_view> THttpResponseReader::TakeLine(std::size_t& RawLength) {
  const std::size_t Feed = Pending.find('\n', Pos);
  RawLength = (Feed == std::string::npos ? Pending.size() : Feed) - Pos;
  if (Feed == std::string::npos) return std::nullopt;
  const std::string_view Line = WithoutCr(std::string_view(Pending).substr(Pos, RawLength));
  Pos = Feed + 1;
  return Line;
}

THttpResponseReader::TPart THttpResponseReader::StepChunkSize() {
  std::size_t RawLength = 0;
  const std::optional<std::string_view> Line = TakeLine(RawLength);
  if (RawLength > MaxChunkSizeLine) return TPart::Failed;
  if (!Line) return TPart::ChunkSize;
  const std::optional<std::size_t> Size = ChunkSizeOf(*Line);
  if (!Size || *Size > MaxBodyBytes - Content.size()) return TPart::Failed;
  if (*Size == 0) return TPart::Trailer;
  Remaining = *Size;
  return TPart::ChunkData;
}

THttpResponseReader::TPart THttpResponseReader::StepChunkEnd() {
  if (Unread() == 0) return TPart::ChunkEnd;
  if (Pending[Pos] == '\n') {
    ++Pos;
    return TPart::ChunkSize;
  }
  if (Pending[Pos] != '\r') return TPart::Failed;
  if (Unread() < 2) return TPart::ChunkEnd;
  if (Pending[Pos + 1] != '\n') return TPart::Failed;
  Pos += 2;
  return TPart::ChunkSize;
}

THttpResponseReader::TPart THttpResponseReader::StepTrailer() {
  std::size_t RawLength = 0;
  const std::optional<std::string_view> Line = TakeLine(RawLength);
  if (TrailerBytes + RawLength > MaxHeadBytes) return TPart::Failed;
  if (!Line) return TPart::Trailer;
  TrailerBytes += RawLength;
  return Line->empty() ? TPart::Done : TPart::Trailer;
}
