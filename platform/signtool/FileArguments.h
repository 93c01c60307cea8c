#pragma once
// The files a command names: each word is a file, "@list" a file that lists one file per line,
// and a word with * ? or [ that names no file is a pattern, expanded here as a shell would have
// (build scripts often quote their patterns, or run without a shell).
#include <string>
#include <vector>

struct TFileArguments {
  std::vector<std::string> Files;
  std::string Error;  // the text after "SignTool Error: "; Files is then empty
};

TFileArguments ExpandFileArguments(const std::vector<std::string>& Words);
