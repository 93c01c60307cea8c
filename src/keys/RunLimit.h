#pragma once
#include <chrono>

// No input, server or certificate may keep a signtool.exe run going for longer.
constexpr std::chrono::minutes WholeRunTimeLimit{10};
