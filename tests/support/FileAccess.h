#pragma once
// Who may use a file, read back the way an administrator would: the permission bits, the POSIX
// ACL as getfacl lists it, and the user's extended attributes.
#include <sys/types.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

struct TFileAccess {
  mode_t Mode = 0;
  std::string Acl;  // getfacl's listing, numeric ids, without the header
  std::map<std::string, std::string> UserAttributes;
  bool operator==(const TFileAccess&) const = default;
};
void PrintTo(const TFileAccess& Access, std::ostream* Out);

TFileAccess AccessOf(const std::string& Path);
// Whether the file has an access ACL beyond its permission bits.
bool HasAccessAcl(const std::string& Path);
// setfacl with Arguments on Path; false when it failed.
bool SetFacl(const std::string& Path, const std::vector<std::string>& Arguments);
