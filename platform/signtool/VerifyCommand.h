#pragma once
// signtool.exe verify: the window's verifier on the command line. Arguments are those after
// "verify".
#include <string>
#include <vector>

int RunVerify(const std::vector<std::string>& Arguments);
