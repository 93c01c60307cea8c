#include "CommandOutput.h"

#include <cstdio>

void PrintError(const std::string& Text) { std::fprintf(stderr, "SignTool Error: %s\n", Text.c_str()); }

void PrintWarning(const std::string& Text) { std::fprintf(stderr, "SignTool Warning: %s\n", Text.c_str()); }

int ExitCodeOf(int Errors, int Warnings) {
  if (Errors > 0) return ExitFailure;
  return Warnings > 0 ? ExitWarning : ExitSuccess;
}
