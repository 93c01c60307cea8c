#pragma once
// The record behind every row of the file list: 513 bytes packed, as the list stores it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum TFileStatus : std::uint8_t { fsPending = 0, fsOk = 1, fsFailed = 2, fsWarning = 3 };

#pragma pack(push, 1)
// A length byte followed by up to 255 bytes of UTF-8 text.
struct TShortString {
  std::uint8_t Length;
  char Chars[255];
};

struct TFileItem {
  TShortString FileName;
  std::uint8_t Status;  // a TFileStatus
  TShortString Info;
};
#pragma pack(pop)

static_assert(sizeof(TShortString) == 256);
static_assert(sizeof(TFileItem) == 513, "the list's per-row data size is 513 bytes");
static_assert(offsetof(TFileItem, Status) == 256 && offsetof(TFileItem, Info) == 257);

constexpr std::size_t FileItemDataSize = sizeof(TFileItem);

std::string ToString(const TShortString& Value);
// Stores Text cut to 255 bytes on a character boundary.
void Assign(TShortString& Target, std::string_view Text);
