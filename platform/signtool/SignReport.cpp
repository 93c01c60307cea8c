#include "SignReport.h"

#include <openssl/evp.h>

#include <cstdlib>

#include "CommandOutput.h"
#include "authenticode/Pkcs7Parts.h"
#include "common/SafeFileWrite.h"
#include "common/TextUtil.h"

TSignReport::TSignReport(X509* Signer) : SignerName(NameText(X509_get_subject_name(Signer))) {
  unsigned char Digest[EVP_MAX_MD_SIZE];
  unsigned int Size = 0;
  if (X509_digest(Signer, EVP_sha1(), Digest, &Size) == 1) Thumbprint = LowerHex(Digest, Size);
}

void TSignReport::Add(TReportEntry Entry) {
  if (Entry.Result != "failed") {
    Entry.Signer = SignerName;
    Entry.Thumbprint = Thumbprint;
  }
  const std::lock_guard Guard(Lock);
  Entries.push_back(std::move(Entry));
}

std::string TSignReport::Write(const std::string& Path) const {
  const std::lock_guard Guard(Lock);
  try {
    const char* Transient = std::getenv(TransientReportVariable);
    WriteBatchReport(Path, SignerName, Thumbprint, Entries,
                     Transient && *Transient ? TDurability::Unflushed : TDurability::Flushed);
  } catch (const TReplaceError& Error) {
    return Say(TMessage::ReportUnwritable, {Path, Error.what()});
  }
  return {};
}
