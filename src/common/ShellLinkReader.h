#pragma once
// Reading the target path of a Windows shell link (.lnk) from the file's bytes. The target is
// taken from the link's LinkInfo structure: the local base path followed by the common path
// suffix, or else the network share name followed by the suffix; the UTF-16 forms are used where
// the link carries them. 8-bit strings are taken byte for byte.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The target in UTF-8: empty when the link has no LinkInfo or it names no path; nullopt when the
// bytes are no shell link or a structure reaches beyond them.
std::optional<std::string> ReadShellLinkTarget(std::span<const std::uint8_t> Bytes);
