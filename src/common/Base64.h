#pragma once
// Base64 (RFC 4648) in its standard alphabet and in the URL-safe one without padding, as JSON
// services carry bytes.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

std::string EncodeBase64(std::span<const std::uint8_t> Bytes);  // one line, padded
// Line breaks are skipped; empty when Text is not Base64.
std::vector<std::uint8_t> DecodeBase64(std::string_view Text);

std::string EncodeBase64Url(std::span<const std::uint8_t> Bytes);  // unpadded
// Padded or not; empty when Text is not Base64url.
std::vector<std::uint8_t> DecodeBase64Url(std::string_view Text);
