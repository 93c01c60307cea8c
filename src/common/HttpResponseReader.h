#pragma once
// An HTTP/1.x answer read as its bytes arrive: the status line and header fields, then a body
// delimited by Content-Length, by chunks, or by the end of the connection. Interim 1xx answers
// are passed over. A head (or chunk trailer) beyond MaxHeadBytes, more than MaxHeaderFields
// fields, or a body beyond the given limit make the answer unusable at once, so a server that
// sends without end is given up on when the limit is reached, not when time runs out.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class THttpResponseReader {
 public:
  static constexpr std::size_t MaxHeadBytes = 16 * 1024;
  static constexpr std::size_t MaxHeaderFields = 100;

  enum class TState { More, Done, Failed };

  explicit THttpResponseReader(std::size_t MaxBodyBytes) : MaxBodyBytes(MaxBodyBytes) {}

  // Takes the next bytes of the connection.
  TState Feed(std::string_view Bytes);
  // The server closed the connection: a body delimited by that is complete now.
  TState End();

  TState State() const;
  int Status() const { return StatusCode; }  // valid once Done
  // The value of the head's first field named Name (in any case), without surrounding blanks;
  // valid once Done.
  std::optional<std::string> Field(std::string_view Name) const;
  const std::string& Body() const { return Content; }

 private:
  enum class TPart { Head, Body, BodyUntilEnd, ChunkSize, ChunkData, ChunkEnd, Trailer, Done, Failed };

  TPart Step();  // reads what it can of the current part; returns the part that comes next
  TPart StepHead();
  TPart StepChunkSize();
  TPart StepChunkEnd();
  TPart StepTrailer();
  bool ReadHead(std::string_view Head);
  // The next line without its line end, nullopt until its end is in; RawLength is how many
  // bytes of it (before LF) are in either way.
  std::optional<std::string_view> TakeLine(std::size_t& RawLength);
  std::size_t Unread() const { return Pending.size() - Pos; }

  std::size_t MaxBodyBytes;
  TPart Part = TPart::Head;
  std::string Pending;        // received; what lies before Pos is consumed
  std::size_t Pos = 0;
  std::size_t Scanned = 0;    // how far Pending has been searched for the head's end
  std::size_t Remaining = 0;  // of the body or the current chunk
  std::size_t TrailerBytes = 0;
  bool Chunked = false;
  std::optional<std::size_t> Length;
  int StatusCode = 0;
  std::vector<std::pair<std::string, std::string>> Fields;  // of the last head read
  std::string Content;
};
