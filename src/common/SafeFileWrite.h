#pragma once
// Replacing a file's content so that a failure never leaves it half-written.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

// A file without any write permission bit counts as read-only, even for a process that could
// write it anyway. A symbolic link is followed.
bool IsReadOnlyFile(const std::string& Path);

// Writes Bytes to a temporary file beside Path, flushes it to disk and renames it over Path; a
// symbolic link is followed, even a dangling one, and its target replaced.
// The original's permission bits are kept (a new file gets 0644 less the umask). On failure the
// temporary file is removed, Path is left as it was, and std::runtime_error carries the system's
// error text.
void WriteFileAtomically(const std::string& Path, std::span<const std::uint8_t> Bytes);

// The same with the content given in consecutive pieces, so that large parts need not be copied
// into one buffer first.
void WritePiecesAtomically(const std::string& Path,
                           std::initializer_list<std::span<const std::uint8_t>> Pieces);
