#pragma once
// The batch report a release pipeline archives, written by signtool.exe (/report FILE.json) and by
// the window after a signing batch: for each file its path, its SHA-256 before and after, the
// result and message, the signer and its thumbprint, and the timestamp with its server.
#include <cstdint>
#include <string>
#include <vector>

#include "common/SafeFileWrite.h"

// Set (not empty) by a program that takes each report signtool.exe writes for it and removes it
// as soon as the run has ended: the report is then not flushed to disk.
inline constexpr const char* TransientReportVariable = "QUILLORY_REPORT_TRANSIENT";

struct TReportEntry {
  std::string Path;
  std::string Sha256Before, Sha256After;  // lower-case hex; empty when the file could not be read
  std::string Result;                     // "signed", "warning", "failed" or "skipped" (/lazy)
  std::string Message;
  std::string Signer, Thumbprint;  // empty for a file that was not signed
  std::int64_t TimestampTime = 0;  // 0: none
  std::string TimestampServer;
};

// The report as JSON; Signer and Thumbprint are the batch's key's.
std::string BatchReportText(const std::string& Signer, const std::string& Thumbprint,
                            const std::vector<TReportEntry>& Entries);

// Writes the report so that Path holds either its old content or the whole report. Throws
// TReplaceError (SafeFileWrite.h).
void WriteBatchReport(const std::string& Path, const std::string& Signer, const std::string& Thumbprint,
                      const std::vector<TReportEntry>& Entries, TDurability Durability = TDurability::Flushed);

// The file's SHA-256 in lower-case hex; empty when it cannot be read.
std::string FileSha256(const std::string& Path);
