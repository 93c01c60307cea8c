#include "authenticode/TrustStore.h"

#include <openssl/x509.h>

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "common/OpenSslPtr.h"
#include "common/SmallFileRead.h"
#include "common/TextUtil.h"

namespace {
// A certificate file is a few kilobytes; anything far larger is not one.
constexpr std::uint64_t MaxCertificateFileSize = std::uint64_t{16} << 20;

struct TFileStamp {
  std::string Path;
  std::uintmax_t Size = 0;
  std::filesystem::file_time_type Modified;
  bool operator==(const TFileStamp&) const = default;
};

TFileStamp StampOf(std::string Path) {
  std::error_code Error;
  TFileStamp Stamp;
  Stamp.Path = std::move(Path);
  Stamp.Size = std::filesystem::file_size(Stamp.Path, Error);
  Stamp.Modified = std::filesystem::last_write_time(Stamp.Path, Error);
  return Stamp;
}

// The files a source names: a file itself, a folder's regular files in name order.
std::vector<std::string> CertificateFiles(const std::string& Source) {
  std::error_code Error;
  if (!std::filesystem::is_directory(Source, Error)) return {Source};
  std::vector<std::string> Files;
  for (const auto& Entry : std::filesystem::directory_iterator(Source, Error))
    if (Entry.is_regular_file(Error)) Files.push_back(Entry.path().string());
  std::sort(Files.begin(), Files.end());
  return Files;
}

// A folder's own time changes when a file comes or goes; its files' when they are rewritten.
std::vector<TFileStamp> StampsOf(const std::string& ExtraTrust) {
  std::vector<TFileStamp> Stamps;
  for (const std::string& Source : TrustSources(ExtraTrust)) {
    Stamps.push_back(StampOf(Source));
    std::error_code Error;
    if (std::filesystem::is_directory(Source, Error))
      for (std::string& File : CertificateFiles(Source)) Stamps.push_back(StampOf(std::move(File)));
  }
  return Stamps;
}

// Adds a file's certificates: a PEM bundle, else one DER certificate. False when it holds none.
bool AddCertificates(X509_STORE* Store, const std::string& Path) {
  if (X509_STORE_load_file(Store, Path.c_str()) == 1) return true;
  std::string Bytes;
  if (ReadSmallFile(Path, MaxCertificateFileSize, Bytes) != TSmallFileRead::Read) return false;
  const auto* Der = reinterpret_cast<const unsigned char*>(Bytes.data());
  const TX509 Certificate(d2i_X509(nullptr, &Der, static_cast<long>(Bytes.size())));
  return Certificate && X509_STORE_add_cert(Store, Certificate.get()) == 1;
}

TTrustStore BuildStore(const std::string& ExtraTrust) {
  TTrustStore Result;
  Result.Store.reset(X509_STORE_new(), X509_STORE_free);
  if (!Result.Store) return Result;
  X509_STORE_set_default_paths(Result.Store.get());
  for (const std::string& Source : TrustSources(ExtraTrust)) {
    bool Added = false;
    for (const std::string& File : CertificateFiles(Source)) Added = AddCertificates(Result.Store.get(), File) || Added;
    if (!Added) Result.ExtraTrustUnreadable = true;
  }
  return Result;
}
}  // namespace

std::vector<std::string> TrustSources(const std::string& ExtraTrust) {
  std::vector<std::string> Sources;
  std::size_t Start = 0;
  while (Start <= ExtraTrust.size()) {
    const std::size_t End = std::min(ExtraTrust.find(';', Start), ExtraTrust.size());
    std::string Source = Trim(std::string_view(ExtraTrust).substr(Start, End - Start));
    if (!Source.empty()) Sources.push_back(std::move(Source));
    Start = End + 1;
  }
  return Sources;
}

TTrustStore TrustStore(const std::string& ExtraTrust) {
  static std::mutex Guard;
  static std::vector<TFileStamp> CachedStamps;
  static TTrustStore Cached;
  std::vector<TFileStamp> Stamps = StampsOf(ExtraTrust);
  const std::lock_guard Lock(Guard);
  if (!Cached.Store || Stamps != CachedStamps) {
    Cached = BuildStore(ExtraTrust);
    CachedStamps = std::move(Stamps);
  }
  return Cached;
}
