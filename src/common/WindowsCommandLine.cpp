#include "common/WindowsCommandLine.h"

namespace {
bool IsSeparator(char C) { return C == ' ' || C == '\t'; }

std::size_t SkipSeparators(std::string_view Line, std::size_t Pos) {
  while (Pos < Line.size() && IsSeparator(Line[Pos])) ++Pos;
  return Pos;
}

// Reads the program name starting at Pos; quotes only protect blanks there.
std::size_t ReadProgramName(std::string_view Line, std::size_t Pos, std::string& Name) {
  bool InQuotes = false;
  for (; Pos < Line.size(); ++Pos) {
    const char C = Line[Pos];
    if (C == '"') {
      InQuotes = !InQuotes;
    } else if (!InQuotes && IsSeparator(C)) {
      break;
    } else {
      Name += C;
    }
  }
  return Pos;
}

// Reads one argument starting at Pos (not a separator) and returns the position after it.
std::size_t ReadArgument(std::string_view Line, std::size_t Pos, std::string& Argument) {
  bool InQuotes = false;
  while (Pos < Line.size()) {
    const char C = Line[Pos];
    if (C == '\\') {
      std::size_t Count = 0;
      while (Pos < Line.size() && Line[Pos] == '\\') {
        ++Count;
        ++Pos;
      }
      if (Pos < Line.size() && Line[Pos] == '"') {
        Argument.append(Count / 2, '\\');
        if (Count % 2 == 1) {
          Argument += '"';
          ++Pos;
        }
        // An even count leaves the quote to the next round, where it opens or closes.
      } else {
        Argument.append(Count, '\\');
      }
    } else if (C == '"') {
      if (InQuotes && Pos + 1 < Line.size() && Line[Pos + 1] == '"') {
        Argument += '"';
        Pos += 2;
      } else {
        InQuotes = !InQuotes;
        ++Pos;
      }
    } else if (!InQuotes && IsSeparator(C)) {
      break;
    } else {
      Argument += C;
      ++Pos;
    }
  }
  return Pos;
}

bool NeedsQuotes(std::string_view Value) {
  if (Value.empty()) return true;
  for (char C : Value)
    if (C == ' ' || C == '\t' || C == '\n' || C == '"') return true;
  return false;
}
}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view CommandLine) {
  std::vector<std::string> Result;
  std::size_t Pos = SkipSeparators(CommandLine, 0);
  if (Pos == CommandLine.size()) return Result;
  std::string ProgramName;
  Pos = ReadProgramName(CommandLine, Pos, ProgramName);
  Result.push_back(std::move(ProgramName));
  for (Pos = SkipSeparators(CommandLine, Pos); Pos < CommandLine.size();
       Pos = SkipSeparators(CommandLine, Pos)) {
    std::string Argument;
    Pos = ReadArgument(CommandLine, Pos, Argument);
    Result.push_back(std::move(Argument));
  }
  return Result;
}

std::string EscapeInsideQuotes(std::string_view Value) {
  std::string Escaped;
  std::size_t Backslashes = 0;
  for (char C : Value) {
    if (C == '\\') {
      ++Backslashes;
      continue;
    }
    // Backslashes count only before a quote: double them there, and escape the quote itself.
    Escaped.append(C == '"' ? 2 * Backslashes + 1 : Backslashes, '\\');
    Backslashes = 0;
    Escaped += C;
  }
  Escaped.append(2 * Backslashes, '\\');  // they stand before the closing quote
  return Escaped;
}

std::string QuoteArgument(std::string_view Value) {
  if (!NeedsQuotes(Value)) return std::string(Value);
  return '"' + EscapeInsideQuotes(Value) + '"';
}
