#pragma once
// The bearer token a key service is called with, taken where the service's own tools take it:
// the secret the user gave (the password box, /p, /penv, /pfd), else the service's environment
// variable, else its command-line tool when one is on PATH and signed in. The token is never
// written anywhere, and the tool's output is wiped once read.
#include <string>
#include <string_view>
#include <vector>

#include "cloud/CloudCall.h"

struct TAccessToken {
  std::string Value;  // empty on failure
  TCloudFailure Failure;
  // Fetched from where it can be fetched again (client credentials, a command-line tool), rather
  // than given by the user.
  bool Renewable = false;
  // Wipes Value.
  ~TAccessToken();
  TAccessToken() = default;
  TAccessToken(TAccessToken&& Other) noexcept;
  TAccessToken& operator=(TAccessToken&& Other) noexcept;
};

// GOOGLE_OAUTH_ACCESS_TOKEN, else "gcloud auth print-access-token".
TAccessToken GoogleAccessToken(std::string_view Secret, const TCloudLink& Link);
// For Resource ("https://vault.azure.net"): AZURE_ACCESS_TOKEN, else Microsoft Entra ID's client
// credentials grant when AZURE_TENANT_ID, AZURE_CLIENT_ID and AZURE_CLIENT_SECRET are set (at
// AZURE_AUTHORITY_HOST, https://login.microsoftonline.com by default), else
// "az account get-access-token --resource <Resource>".
TAccessToken AzureAccessToken(std::string_view Secret, const std::string& Resource, const TCloudLink& Link);

// The token's Authorization header.
std::string BearerHeader(const TAccessToken& Token);

// What a command-line tool printed on its first line, when it ran and succeeded; the rest of its
// output is wiped.
TAccessToken TokenFromTool(const std::string& Program, const std::vector<std::string>& Arguments, const TCloudLink& Link);
