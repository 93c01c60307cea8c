#include "CommandOutput.h"

#include <cstdio>

TMessageLanguage OutputLanguage() {
  static const TMessageLanguage Language = LanguageOfEnvironment();
  return Language;
}

std::string Say(TMessage Message, std::initializer_list<std::string_view> Arguments) {
  return MessageText(Message, OutputLanguage(), Arguments);
}

void PrintLine(TMessage Message, std::initializer_list<std::string_view> Arguments) {
  std::printf("%s\n", Say(Message, Arguments).c_str());
}

void PrintCounts(std::initializer_list<TCount> Counts) {
  std::printf("\n");
  for (const TCount& Count : Counts) PrintLine(Count.Message, {std::to_string(Count.Value)});
}

void PrintError(const std::string& Text) { std::fprintf(stderr, "SignTool Error: %s\n", Text.c_str()); }

void PrintWarning(const std::string& Text) { std::fprintf(stderr, "SignTool Warning: %s\n", Text.c_str()); }

int ExitCodeOf(int Errors, int Warnings) {
  if (Errors > 0) return ExitFailure;
  return Warnings > 0 ? ExitWarning : ExitSuccess;
}
