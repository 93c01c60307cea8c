#pragma once
// The report of one sign command (/report FILE.json), gathered as the files are done.
#include <mutex>
#include <string>
#include <vector>

#include <openssl/x509.h>

#include "common/BatchReport.h"

class TSignReport {
 public:
  explicit TSignReport(X509* Signer);

  // Thread-safe. A file that was not signed names no signer.
  void Add(TReportEntry Entry);
  // Writes the report to Path; the text after "SignTool Error: " when that fails, else empty.
  std::string Write(const std::string& Path) const;

 private:
  std::string SignerName, Thumbprint;
  mutable std::mutex Lock;
  std::vector<TReportEntry> Entries;
};
