#pragma once
// The timestamp servers a user names in one text: addresses separated by blanks or ';'.
#include <string>
#include <string_view>
#include <vector>

// In the order given; empty pieces are dropped, and an address named twice is kept once.
std::vector<std::string> ParseTimestampServers(std::string_view Text);
