#pragma once
// libcurl, loaded when the first HTTP request needs it rather than when the program
// starts: its libraries (TLS, LDAP, Kerberos, SSH, ...) would add a good part of the start-up of
// every signtool.exe run, most of which make no request of their own.
#include <curl/curl.h>

struct TCurlLibrary {
  decltype(&curl_global_init) GlobalInit;
  decltype(&curl_easy_init) EasyInit;
  decltype(&curl_easy_cleanup) EasyCleanup;
  decltype(&curl_easy_setopt) EasySetopt;
  decltype(&curl_easy_getinfo) EasyGetinfo;
  decltype(&curl_easy_strerror) EasyStrerror;
  decltype(&curl_easy_header) EasyHeader;
  decltype(&curl_multi_init) MultiInit;
  decltype(&curl_multi_cleanup) MultiCleanup;
  decltype(&curl_multi_add_handle) MultiAddHandle;
  decltype(&curl_multi_remove_handle) MultiRemoveHandle;
  decltype(&curl_multi_perform) MultiPerform;
  decltype(&curl_multi_poll) MultiPoll;
  decltype(&curl_multi_info_read) MultiInfoRead;
  decltype(&curl_slist_append) SlistAppend;
  decltype(&curl_slist_free_all) SlistFreeAll;
};

// libcurl, loaded and initialised on the first call (later calls wait for the first); null when
// it cannot be loaded. Safe to call from several threads at once.
const TCurlLibrary* Curl();
