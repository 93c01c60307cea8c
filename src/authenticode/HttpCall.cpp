#include "authenticode/HttpCall.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <ctime>
#include <memory>
#include <system_error>
#include "authenticode/CurlLibrary.h"
#include "common/RetryAfter.h"
#include "common/TextUtil.h"

namespace {
template <auto Free>
struct TCurlFree {
  template <typename T>
  void operator()(T* Object) const { (Curl()->*Free)(Object); }
};
using TEasy = std::unique_ptr<CURL, TCurlFree<&TCurlLibrary::EasyCleanup>>;
using TMulti = std::unique_ptr<CURLM, TCurlFree<&TCurlLibrary::MultiCleanup>>;
using THeaders = std::unique_ptr<curl_slist, TCurlFree<&TCurlLibrary::SlistFreeAll>>;

struct TReceived {
  std::string Body;
  bool TooLong = false;
};

std::size_t Receive(char* Data, std::size_t Size, std::size_t Count, void* Context) {
  auto* Received = static_cast<TReceived*>(Context);
  const std::size_t Length = Size * Count;
  if (Length > MaxHttpAnswerBytes - Received->Body.size()) {
    Received->TooLong = true;
    return 0;  // makes libcurl end the transfer
  }
  Received->Body.append(Data, Length);
  return Length;
}

constexpr auto Failure = &THttpAnswer::Unanswered;

// Everything but the proxy: libcurl takes that from the environment as long as no proxy option
// is set here.
bool Configure(const TCurlLibrary& Api, CURL* Easy, const THttpCall& Request, curl_slist* Headers, TReceived& Received,
               std::chrono::milliseconds Time) {
  bool Ok = Api.EasySetopt(Easy, CURLOPT_URL, Request.Url.c_str()) == CURLE_OK &&
            Api.EasySetopt(Easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
            Api.EasySetopt(Easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
            Api.EasySetopt(Easy, CURLOPT_TIMEOUT_MS, static_cast<long>(Time.count())) == CURLE_OK &&
            Api.EasySetopt(Easy, CURLOPT_HTTPHEADER, Headers) == CURLE_OK &&
            Api.EasySetopt(Easy, CURLOPT_WRITEFUNCTION, Receive) == CURLE_OK &&
            Api.EasySetopt(Easy, CURLOPT_WRITEDATA, &Received) == CURLE_OK;
  if (Ok && Request.Method == "GET") {
    Ok = Api.EasySetopt(Easy, CURLOPT_HTTPGET, 1L) == CURLE_OK;
  } else if (Ok) {
    Ok = Api.EasySetopt(Easy, CURLOPT_POST, 1L) == CURLE_OK &&
         Api.EasySetopt(Easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(Request.Body.size())) == CURLE_OK &&
         Api.EasySetopt(Easy, CURLOPT_POSTFIELDS, Request.Body.data()) == CURLE_OK;
    if (Ok && Request.Method != "POST")
      Ok = Api.EasySetopt(Easy, CURLOPT_CUSTOMREQUEST, Request.Method.c_str()) == CURLE_OK;
  }
  if (Ok && !Request.CaFile.empty()) Ok = Api.EasySetopt(Easy, CURLOPT_CAINFO, Request.CaFile.c_str()) == CURLE_OK;
  return Ok;
}

std::optional<std::chrono::seconds> RetryAfterOf(const TCurlLibrary& Api, CURL* Easy) {
  curl_header* Field = nullptr;
  if (Api.EasyHeader(Easy, "Retry-After", 0, CURLH_HEADER, -1, &Field) != CURLHE_OK) return std::nullopt;
  return ParseRetryAfter(Field->value, std::time(nullptr));
}


// Runs the transfer Easy, already added to Multi, to its end.
THttpAnswer Transfer(const TCurlLibrary& Api, CURLM* Multi, CURL* Easy, TSteadyClock::time_point Deadline, int Interruption) {
  using namespace std::chrono;
  using TEnd = THttpAnswer::TEnd;
  for (;;) {
    int Running = 0;
    if (Api.MultiPerform(Multi, &Running) != CURLM_OK) return Failure(TEnd::Failed, "libcurl failed");
    if (Running == 0) break;
    const auto Left = ceil<milliseconds>(Deadline - TSteadyClock::now());
    if (Left <= milliseconds(0)) return Failure(TEnd::TimedOut, "the server did not answer in time");
    curl_waitfd Watched{Interruption, CURL_WAIT_POLLIN, 0};
    const unsigned WatchedCount = Interruption >= 0 ? 1 : 0;
    if (Api.MultiPoll(Multi, &Watched, WatchedCount, static_cast<int>(std::min<milliseconds::rep>(Left.count(), 1000)),
                        nullptr) != CURLM_OK)
      return Failure(TEnd::Failed, "libcurl failed");
    if (IsInterrupted(Interruption)) return Failure(TEnd::Interrupted, "interrupted");
  }
  int Queued = 0;
  const CURLMsg* Message = Api.MultiInfoRead(Multi, &Queued);
  const CURLcode Code = Message != nullptr && Message->msg == CURLMSG_DONE ? Message->data.result : CURLE_FAILED_INIT;
  if (Code == CURLE_OPERATION_TIMEDOUT) return Failure(TEnd::TimedOut, "the server did not answer in time");
  if (Code != CURLE_OK) return Failure(TEnd::Failed, Api.EasyStrerror(Code));
  THttpAnswer Result;
  Result.End = TEnd::Answered;
  Api.EasyGetinfo(Easy, CURLINFO_RESPONSE_CODE, &Result.Status);
  Result.RetryAfter = RetryAfterOf(Api, Easy);
  return Result;
}
}  // namespace

THttpAnswer CallHttp(const THttpCall& Request, TSteadyClock::time_point Deadline, int Interruption) {
  using TEnd = THttpAnswer::TEnd;
  const TCurlLibrary* Loaded = Curl();
  if (Loaded == nullptr) return Failure(TEnd::Failed, "libcurl (libcurl.so.4) cannot be loaded");
  const TCurlLibrary& Api = *Loaded;
  const auto Time = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TSteadyClock::now());
  if (Time <= std::chrono::milliseconds(0)) return Failure(TEnd::TimedOut, "no time was left");

  // "Expect:" keeps libcurl from waiting for a 100.
  std::vector<std::string> AllFields = Request.Headers;
  AllFields.emplace_back("Expect:");
  curl_slist* Fields = nullptr;
  for (const std::string& Field : AllFields) {
    curl_slist* Longer = Api.SlistAppend(Fields, Field.c_str());
    if (Longer == nullptr) {
      Api.SlistFreeAll(Fields);
      return Failure(TEnd::Failed, "out of memory");
    }
    Fields = Longer;
  }
  const THeaders Headers(Fields);
  TReceived Received;
  char Error[CURL_ERROR_SIZE] = "";
  const TEasy Easy(Api.EasyInit());
  const TMulti Multi(Api.MultiInit());
  if (!Easy || !Multi || !Configure(Api, Easy.get(), Request, Headers.get(), Received, Time) ||
      Api.EasySetopt(Easy.get(), CURLOPT_ERRORBUFFER, Error) != CURLE_OK ||
      Api.MultiAddHandle(Multi.get(), Easy.get()) != CURLM_OK)
    return Failure(TEnd::Failed, "cannot set up the HTTP request");
  THttpAnswer Result = Transfer(Api, Multi.get(), Easy.get(), Deadline, Interruption);
  Api.MultiRemoveHandle(Multi.get(), Easy.get());
  if (Received.TooLong) return Failure(TEnd::Failed, "the answer is longer than 1 MiB");
  if (Result.End == TEnd::Failed && Error[0] != '\0') Result.Error = Error;
  Result.Body = std::move(Received.Body);
  return Result;
}

std::string UrlHost(const std::string& Url) {
  std::string_view Rest;
  for (const std::string_view Scheme : {"http://", "https://"})
    if (StartsWithAscii(Url, Scheme)) Rest = std::string_view(Url).substr(Scheme.size());
  const std::string_view Authority = Rest.substr(0, Rest.find_first_of("/?#"));
  // Only a bare host and port are read: a user name, a percent sign, a backslash or any other
  // character that parsers read differently makes the address no host's, so that no one can name
  // one host here and have the request go to another.
  std::string_view Host = Authority;
  std::string_view Port;
  bool Plain = false;
  if (Authority.starts_with('[')) {
    const std::size_t Close = Authority.find(']');
    if (Close == std::string_view::npos) return {};
    Host = Authority.substr(0, Close + 1);
    const std::string_view After = Authority.substr(Close + 1);
    if (!After.empty() && After.front() != ':') return {};
    Port = After.empty() ? After : After.substr(1);
    Plain = std::all_of(Host.begin() + 1, Host.end() - 1, [](char C) {
      return std::isxdigit(static_cast<unsigned char>(C)) || C == ':' || C == '.';
    });
  } else {
    const std::size_t Colon = Authority.find(':');
    Host = Authority.substr(0, Colon);
    Port = Colon == std::string_view::npos ? std::string_view() : Authority.substr(Colon + 1);
    Plain = std::all_of(Host.begin(), Host.end(), [](char C) {
      return std::isalnum(static_cast<unsigned char>(C)) || C == '-' || C == '.' || C == '_';
    });
  }
  const bool PlainPort =
      Port.size() <= 5 && std::all_of(Port.begin(), Port.end(), [](char C) { return C >= '0' && C <= '9'; });
  if (Host.empty() || Host == "[]" || !Plain || !PlainPort) return {};
  return AsciiLower(Host);
}

std::future<void> LoadHttpMeanwhile() {
  try {
    return std::async(std::launch::async, [] { Curl(); });
  } catch (const std::system_error&) {
    return {};  // no thread to spare: the first request loads it
  }
}
