#include "authenticode/CurlLibrary.h"

#include <dlfcn.h>

#include <mutex>
#include <type_traits>

namespace {
// Every function of Library, or false when one is missing.
bool Resolve(void* Handle, TCurlLibrary& Library) {
  bool Complete = true;
  const auto Find = [&](auto& Function, const char* Name) {
    Function = reinterpret_cast<std::remove_reference_t<decltype(Function)>>(::dlsym(Handle, Name));
    Complete = Complete && Function != nullptr;
  };
  Find(Library.GlobalInit, "curl_global_init");
  Find(Library.EasyInit, "curl_easy_init");
  Find(Library.EasyCleanup, "curl_easy_cleanup");
  Find(Library.EasySetopt, "curl_easy_setopt");
  Find(Library.EasyGetinfo, "curl_easy_getinfo");
  Find(Library.EasyStrerror, "curl_easy_strerror");
  Find(Library.EasyHeader, "curl_easy_header");
  Find(Library.MultiInit, "curl_multi_init");
  Find(Library.MultiCleanup, "curl_multi_cleanup");
  Find(Library.MultiAddHandle, "curl_multi_add_handle");
  Find(Library.MultiRemoveHandle, "curl_multi_remove_handle");
  Find(Library.MultiPerform, "curl_multi_perform");
  Find(Library.MultiPoll, "curl_multi_poll");
  Find(Library.MultiInfoRead, "curl_multi_info_read");
  Find(Library.SlistAppend, "curl_slist_append");
  Find(Library.SlistFreeAll, "curl_slist_free_all");
  return Complete;
}
}  // namespace

const TCurlLibrary* Curl() {
  static TCurlLibrary Library;
  static const TCurlLibrary* Loaded = nullptr;
  // curl_global_init is not safe to run on several threads at once either.
  static std::once_flag Once;
  std::call_once(Once, [] {
    // Kept for the life of the process, as a linked library would be.
    void* Handle = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (Handle == nullptr || !Resolve(Handle, Library) || Library.GlobalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) return;
    Loaded = &Library;
  });
  return Loaded;
}
