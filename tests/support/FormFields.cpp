#include "support/FormFields.h"

#include <algorithm>
#include <cctype>

namespace {
std::string Decoded(const std::string& Text) {
  std::string Plain;
  for (std::size_t Index = 0; Index < Text.size(); ++Index) {
    if (Text[Index] == '+') {
      Plain += ' ';
    } else if (Text[Index] == '%' && Index + 2 < Text.size() && std::isxdigit(static_cast<unsigned char>(Text[Index + 1])) &&
               std::isxdigit(static_cast<unsigned char>(Text[Index + 2]))) {
      Plain += static_cast<char>(std::stoi(Text.substr(Index + 1, 2), nullptr, 16));
      Index += 2;
    } else {
      Plain += Text[Index];
    }
  }
  return Plain;
}
}  // namespace

std::map<std::string, std::string> FormFields(const std::string& Body) {
  std::map<std::string, std::string> Fields;
  std::size_t Start = 0;
  while (Start <= Body.size()) {
    const std::size_t End = std::min(Body.find('&', Start), Body.size());
    const std::string Pair = Body.substr(Start, End - Start);
    const std::size_t Equals = Pair.find('=');
    if (Equals != std::string::npos) Fields[Decoded(Pair.substr(0, Equals))] = Decoded(Pair.substr(Equals + 1));
    Start = End + 1;
  }
  return Fields;
}
