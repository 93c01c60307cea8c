#include "cloud/CloudFailure.h"

namespace {
std::string_view Meaning(TCloudFailure::TKind Kind) {
  using TKind = TCloudFailure::TKind;
  switch (Kind) {
    case TKind::None: return "succeeded";
    case TKind::Unauthorized: return "did not accept the credentials (401); the access token may be wrong or expired";
    case TKind::Forbidden: return "refused access to the key (403); the account lacks the role that allows signing";
    case TKind::NotFound: return "does not know this key or certificate (404); check the address";
    case TKind::Throttled: return "asked to slow down (429) for longer than the time left";
    case TKind::Quota: return "refused the request because a quota is used up (429)";
    case TKind::Refused: return "refused the request";
    case TKind::Unreachable: return "could not be reached";
    case TKind::Malformed: return "gave an answer that cannot be read";
    case TKind::TimedOut: return "did not answer in time";
    case TKind::Interrupted: return "was not waited for: the run was interrupted";
    case TKind::NoCredentials:
      return "was not asked: no credentials were found (an access token in the password, the environment or a signed-in "
             "command-line tool)";
    case TKind::Certificate: return "key cannot be used with the certificate";
    case TKind::Unsupported: return "key cannot make Authenticode signatures";
  }
  return "failed";
}
}  // namespace

std::string DescribeCloudFailure(const TCloudFailure& Failure, std::string_view Service) {
  std::string Text(Service);
  Text += ' ';
  Text += Meaning(Failure.Kind);
  if (!Failure.Detail.empty()) {
    Text += ": ";
    Text += Failure.Detail;
  }
  if (Text.back() != '.') Text += '.';
  return Text;
}
