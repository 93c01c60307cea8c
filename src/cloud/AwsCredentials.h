#pragma once
// AWS credentials found where AWS's own tools look for them: AWS_ACCESS_KEY_ID,
// AWS_SECRET_ACCESS_KEY and AWS_SESSION_TOKEN in the environment; else the profile AWS_PROFILE
// names ("default" without it) in the shared credentials file, AWS_SHARED_CREDENTIALS_FILE or
// ~/.aws/credentials (aws_access_key_id, aws_secret_access_key, aws_session_token). They are only
// read, never written anywhere, and no message names a secret.
#include <string>

#include "cloud/AwsSignature.h"

struct TAwsCredentialsLookup {
  TAwsCredentials Credentials;
  std::string Problem;  // why none were found; empty when Credentials holds them
};

TAwsCredentialsLookup FindAwsCredentials();
