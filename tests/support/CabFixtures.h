#pragma once
// Small but real cabinet (.cab) files, stored without compression, for signing tests.
#include <cstdint>
#include <string>
#include <vector>

// A cabinet holding one file, Name, with Content. Content of any size is split into data blocks.
std::vector<std::uint8_t> BuildCab(const std::string& Name, const std::string& Content);
