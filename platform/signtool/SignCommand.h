#pragma once
// signtool.exe sign. Arguments are those after "sign"; FirstIndex is the position of Arguments[0]
// in Argv, whose passwords are blanked once read.
#include <cstddef>
#include <string>
#include <vector>

int RunSign(const std::vector<std::string>& Arguments, char** Argv, std::size_t FirstIndex);
