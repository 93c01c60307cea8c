#include "common/TrustStore.h"

#include <sys/stat.h>

#include <mutex>

namespace {
struct TStoreKey {
  std::string Path;
  off_t Size = -1;
  std::int64_t ModifiedNs = -1;
  bool operator==(const TStoreKey&) const = default;
};

TStoreKey KeyOf(const std::string& Path) {
  TStoreKey Key{Path};
  struct stat Info {};
  if (!Path.empty() && ::stat(Path.c_str(), &Info) == 0) {
    Key.Size = Info.st_size;
    Key.ModifiedNs = std::int64_t{Info.st_mtim.tv_sec} * 1'000'000'000 + Info.st_mtim.tv_nsec;
  }
  return Key;
}

TTrustStore BuildStore(const std::string& ExtraTrustFile) {
  TTrustStore Result;
  Result.Store.reset(X509_STORE_new(), X509_STORE_free);
  if (!Result.Store) return Result;
  X509_STORE_set_default_paths(Result.Store.get());
  if (!ExtraTrustFile.empty())
    Result.ExtraTrustUnreadable = X509_STORE_load_file(Result.Store.get(), ExtraTrustFile.c_str()) != 1;
  return Result;
}
}  // namespace

TTrustStore TrustStore(const std::string& ExtraTrustFile) {
  static std::mutex Guard;
  static TStoreKey CachedKey;
  static TTrustStore Cached;
  const TStoreKey Key = KeyOf(ExtraTrustFile);
  const std::lock_guard Lock(Guard);
  if (!Cached.Store || !(Key == CachedKey)) {
    Cached = BuildStore(ExtraTrustFile);
    CachedKey = Key;
  }
  return Cached;
}
