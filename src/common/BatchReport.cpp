#include "common/BatchReport.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>

#include "common/Descriptor.h"
#include "common/FileReader.h"
#include "common/SafeFileWrite.h"
#include "common/TextUtil.h"

namespace {
std::string Quoted(const std::string& Text) {
  std::string Out = "\"";
  for (const char C : Text) {
    const auto Byte = static_cast<unsigned char>(C);
    if (C == '"' || C == '\\') {
      Out += '\\';
      Out += C;
    } else if (Byte < 0x20) {
      char Escape[8];
      std::snprintf(Escape, sizeof(Escape), "\\u%04x", Byte);
      Out += Escape;
    } else {
      Out += C;
    }
  }
  return Out + "\"";
}

std::string IsoTime(std::int64_t Seconds) {
  const std::time_t Time = static_cast<std::time_t>(Seconds);
  std::tm Parts{};
  char Text[32];
  if (!::gmtime_r(&Time, &Parts) || std::strftime(Text, sizeof(Text), "%Y-%m-%dT%H:%M:%SZ", &Parts) == 0) return {};
  return Text;
}
}  // namespace

std::string BatchReportText(const std::string& Signer, const std::string& Thumbprint,
                            const std::vector<TReportEntry>& Entries) {
  std::string Text = "{\n  \"signer\": " + Quoted(Signer) + ",\n  \"thumbprint\": " + Quoted(Thumbprint) +
                     ",\n  \"files\": [";
  for (std::size_t I = 0; I < Entries.size(); ++I) {
    const TReportEntry& E = Entries[I];
    Text += std::string(I == 0 ? "\n" : ",\n") + "    {\"path\": " + Quoted(E.Path) +
            ", \"sha256Before\": " + Quoted(E.Sha256Before) + ", \"sha256After\": " + Quoted(E.Sha256After) +
            ", \"result\": " + Quoted(E.Result) + ", \"message\": " + Quoted(E.Message) +
            ", \"signer\": " + Quoted(E.Signer) + ", \"thumbprint\": " + Quoted(E.Thumbprint) +
            ", \"timestamp\": " + (E.TimestampTime ? Quoted(IsoTime(E.TimestampTime)) : std::string("null")) +
            ", \"timestampServer\": " + (E.TimestampServer.empty() ? std::string("null") : Quoted(E.TimestampServer)) +
            "}";
  }
  return Text + "\n  ]\n}\n";
}

void WriteBatchReport(const std::string& Path, const std::string& Signer, const std::string& Thumbprint,
                      const std::vector<TReportEntry>& Entries, TDurability Durability) {
  const std::string Text = BatchReportText(Signer, Thumbprint, Entries);
  WriteFileAtomically(Path, {reinterpret_cast<const std::uint8_t*>(Text.data()), Text.size()}, Durability);
}

std::string FileSha256(const std::string& Path) {
  const TDescriptor File(::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (File.Get() < 0) return {};
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> Context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!Context || EVP_DigestInit_ex(Context.get(), EVP_sha256(), nullptr) != 1) return {};
  const auto Buffer = std::make_unique_for_overwrite<unsigned char[]>(ReadPieceSize);
  for (;;) {
    const ssize_t Read = ::read(File.Get(), Buffer.get(), ReadPieceSize);
    if (Read < 0 && errno == EINTR) continue;
    if (Read < 0) return {};
    if (Read == 0) break;
    EVP_DigestUpdate(Context.get(), Buffer.get(), static_cast<std::size_t>(Read));
  }
  unsigned char Digest[EVP_MAX_MD_SIZE];
  unsigned int Size = 0;
  if (EVP_DigestFinal_ex(Context.get(), Digest, &Size) != 1) return {};
  return LowerHex(Digest, Size);
}
