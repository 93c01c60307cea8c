#pragma once
// The batch report a release pipeline archives (/report FILE.json): for each file its path, its
// SHA-256 before and after, the result and message, the signer and its thumbprint, and the
// timestamp with its server.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <openssl/x509.h>

struct TReportEntry {
  std::string Path;
  std::string Sha256Before, Sha256After;  // lower-case hex; empty when the file could not be read
  std::string Result;                     // "signed", "warning", "failed" or "skipped" (/lazy)
  std::string Message;
  std::int64_t TimestampTime = 0;  // 0: none
  std::string TimestampServer;
};

class TSignReport {
 public:
  explicit TSignReport(X509* Signer);

  // Thread-safe.
  void Add(TReportEntry Entry);
  // Writes the report to a new file beside Path that then replaces it; the text after
  // "SignTool Error: " when that fails, else empty.
  std::string Write(const std::string& Path) const;

 private:
  std::string SignerName, Thumbprint;
  mutable std::mutex Lock;
  std::vector<TReportEntry> Entries;
};

// The file's SHA-256 in lower-case hex; empty when it cannot be read.
std::string FileSha256(const std::string& Path);
