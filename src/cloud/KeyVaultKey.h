#pragma once
// A certificate in Azure Key Vault: the certificate is read once from the vault (Get
// Certificate), its chain from the secret that backs it (its private key, when the vault lets it
// out, is dropped unread), and each digest is signed with one sign operation of the key behind
// the certificate, which never leaves the vault.
#include "cloud/OpenCloudKey.h"

TCloudKeyOpening OpenKeyVaultKey(const TCloudKeyRequest& Request);
