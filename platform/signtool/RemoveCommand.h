#pragma once
// signtool.exe remove /s: takes the signatures out of files, as the window's "删除签名" does.
// Arguments are those after "remove".
#include <string>
#include <vector>

int RunRemove(const std::vector<std::string>& Arguments);
