#include "TimestampSettings.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "CommandOutput.h"
#include "Interruption.h"
#include "authenticode/TimestampServerList.h"

namespace {
// Milliseconds from an environment variable; Otherwise when it is not set.
std::chrono::milliseconds MillisecondsFrom(const char* Variable, std::chrono::milliseconds Otherwise) {
  const char* Value = std::getenv(Variable);
  return Value && *Value ? std::chrono::milliseconds(std::strtoul(Value, nullptr, 10)) : Otherwise;
}
}  // namespace

std::string TimestampServersOf(const TSignOptions& Options) {
  return Options.Rfc3161Url.empty() ? Options.AuthenticodeUrl : Options.Rfc3161Url;
}

TTimestampSettings TimestampSettingsOf(const TSignOptions& Options) {
  TTimestampSettings Settings;
  Settings.Protocol = Options.Rfc3161Url.empty() ? TTimestampProtocol::Authenticode : TTimestampProtocol::Rfc3161;
  Settings.Digest = EVP_get_digestbyname(Options.TimestampDigest.c_str());
  Settings.RetryWait = MillisecondsFrom("QUILLORY_TIMESTAMP_RETRY_WAIT", Settings.RetryWait);
  Settings.Interruption = InterruptionDescriptor();
  return Settings;
}

bool OpenTimestampBatch(const std::string& Servers, std::optional<TTimestampBatch>& Batch) {
  const std::chrono::milliseconds Interval = MillisecondsFrom(TimestampIntervalVariable, {});
  const char* Shared = std::getenv(TimestampPaceVariable);
  std::unique_ptr<TPaceFile> File;
  if (!Shared || !*Shared) {
    File = std::make_unique<TPaceFile>();
  } else {
    TPaceFileOpening Opened = OpenPaceFile(Shared);
    if (!Opened.File.IsOpen()) {
      PrintError(Say(TMessage::PaceFileUnusable, {Opened.Problem}));
      return false;
    }
    File = std::make_unique<TPaceFile>(std::move(Opened.File));
  }
  Batch.emplace(std::move(File), ParseTimestampServers(Servers), Interval);
  return true;
}

void PrintTimestampFailures(const std::vector<TTimestampFailure>& Failures) {
  for (const TTimestampFailure& Failure : Failures)
    PrintLine(TMessage::TimestampServerFailed, {Failure.Server, Failure.Problem});
}
