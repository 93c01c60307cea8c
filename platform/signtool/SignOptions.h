#pragma once
// The command lines of signtool's sign and timestamp commands.
#include <optional>
#include <string>
#include <vector>

struct TSignOptions {
  bool Quiet = false;
  bool Verbose = false;
  bool ShowHelp = false;
  std::string FilePath;      // /f: the PFX, or with /kc the certificate (DER or PEM)
  std::string KeyContainer;  // /kc: a pkcs11: URI, the label of a key on a token, or a key service's address
  std::string Module;        // /csp: the PKCS#11 module, or the name of a key service
  std::string Thumbprint;    // /sha1, upper-case hex without blanks
  std::string SubjectName;   // /n: part of the certificate's common name
  std::string AdditionalCertificates;  // /ac
  std::optional<std::string> Password;  // /p: the PFX's password, the token's PIN or an access token
  std::string PasswordVariable;         // /penv: the environment variable that holds it
  int PasswordDescriptor = -1;          // /pfd: the descriptor to read it from (0: standard input)
  std::string AuthenticodeUrl;    // /t: one or more servers, separated by blanks or ';'
  std::string Rfc3161Url;         // /tr: the same
  std::string Digest = "sha256";  // /fd, as OpenSSL names it
  std::string TimestampDigest;    // /td; empty: the file digest's
  std::string Description;        // /d
  std::string DescriptionUrl;     // /du
  bool AppendSignature = false;   // /as: nest the signature in the file's own
  int Parallel = 0;               // /mt: files signed at once; 0 when not given
  std::string ReportPath;         // /report: the JSON report to write
  bool Lazy = false;              // /lazy: leave files this key has validly signed already
  std::vector<std::string> Files;
};

struct TParseResult {
  std::optional<TSignOptions> Options;
  std::string Error;  // the text after "SignTool Error: " when Options is empty
  std::vector<std::size_t> PasswordIndexes;  // where passwords sit, also when parsing fails later
};

// Arguments are those after "sign". Option names begin with "/" or "-" and ignore letter case;
// the file names follow the options, and the first word that is not a known option is one. FirstIndex is the position of Arguments[0] in the program's
// own argument vector, so that PasswordIndexes refer to that vector.
TParseResult ParseSignCommand(const std::vector<std::string>& Arguments, std::size_t FirstIndex);

// The timestamp command's arguments (those after "timestamp"): /t or /tr (with /td, SHA-256 unless
// given), /q, /v, /? and the files, parsed as for sign. Fills only those fields.
TParseResult ParseTimestampCommand(const std::vector<std::string>& Arguments);
