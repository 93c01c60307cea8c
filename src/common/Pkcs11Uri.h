#pragma once
// Names of objects on PKCS#11 tokens, written as "pkcs11:" URIs (RFC 7512).
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct TPkcs11Uri {
  using TAttributes = std::vector<std::pair<std::string, std::string>>;
  TAttributes Path;   // token, serial, id, object, type...; values decoded (an id is raw bytes)
  TAttributes Query;  // module-path, pin-source...

  std::optional<std::string> Get(std::string_view Name) const;
  std::optional<std::string> GetQuery(std::string_view Name) const;
  // Replaces the attribute of that name, or appends it when there is none.
  void Set(const std::string& Name, const std::string& Value);
  void Remove(std::string_view Name);
  // Percent-encodes what the URI syntax reserves; an id is encoded byte by byte.
  std::string ToString() const;
};

// Whether Text names a token object rather than a file: it starts with the scheme "pkcs11:".
bool IsPkcs11Uri(std::string_view Text);
// Empty when Text is not a well-formed PKCS#11 URI.
std::optional<TPkcs11Uri> ParsePkcs11Uri(std::string_view Text);
