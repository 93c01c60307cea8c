#pragma once
// Programs crafted to carry far more Authenticode signatures than any real one.
#include <cstdint>
#include <vector>

// Image, which must be signed, with its signature made to carry Nested copies of itself (without
// certificates, to stay small) as nested signatures. It then carries 1 + Nested signatures.
std::vector<std::uint8_t> WithManySignatures(std::vector<std::uint8_t> Image, int Nested);
