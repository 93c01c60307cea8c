#pragma once
// What one signtool.exe run is made of, and how its answer is read.
#include <optional>
#include <string>
#include <string_view>

#include "common/BatchReport.h"
#include "common/PinRefusal.h"
#include "filelist/TFileItem.h"

// The texts of the window a file is signed with, as they were when its turn came. The password
// is not among them: the key is opened once for the batch and lent to each run (KeySession.h).
struct TSignSettings {
  std::string CertFile;  // a PFX path or a pkcs11: URI
  std::string TimeStamp;
  std::string Description;
  std::string Url = {};  // the software's address, signed with the description; may be left out
  bool Rfc3161 = false;  // the servers are asked for RFC 3161 timestamps over SHA-256
};

// signtool.exe sign /q /f <cert> /t "<timestamp>" /d "<description>" <file>
// With an address (any text but blanks) /du "<address>" follows the description. With Rfc3161
// /tr "<timestamp>" /td sha256 stands in place of /t "<timestamp>".
// A certificate given as a pkcs11: URI goes with /kc in place of /f. No password or PIN: another
// user could read it in /proc/<pid>/cmdline; the run signs with the batch's key session.
// Ordinary values appear exactly as typed. A value with blanks, tabs or double quotes is quoted
// and escaped by the Windows command-line rules (the timestamp, description and address only escaped,
// as they already stand in quotes), so each reaches the tool as one argument. The certificate
// path is trimmed, as the check before the batch saw it. A ReportPath adds /report "<path>" before
// the file. An empty ShortPath leaves the line ending after the description (or the report).
std::string SignCommandLine(const TSignSettings& Settings, std::string_view ShortPath,
                            std::string_view ReportPath = {});

// The name the tool is given for a listed file: its absolute path while it exists, else empty.
std::string ShortPathOf(std::string_view FileName);

struct TSignOutcome {
  TFileStatus Status;
  std::string Info;
  bool Succeeded;  // warnings count as successes
  TPinRefusal PinRefusal = TPinRefusal::None;  // the token refused the PIN
  std::optional<TReportEntry> Report = {};      // the file's entry in the batch's report
};

// The report's entry for a file whose run left no report of its own (it never began, or the tool
// could not write one): its result and message as its row shows them, nothing known of its content.
TReportEntry UnreportedEntry(const std::string& FileName, const TSignOutcome& Outcome);

// A file that is not there (ShortPathOf gives nothing) is not handed to the tool: failed, saying
// that the file was not found, with its name.
TSignOutcome MissingFileOutcome(const std::string& FileName);

// Clean run: ok. An error text starting with "SignTool Warning" (any ASCII case): warning.
// Anything else, including a tool that could not be started: failed, telling whether the tool
// reported that the token refused the PIN.
TSignOutcome ClassifySignRun(bool Clean, const std::string& ErrorText);
