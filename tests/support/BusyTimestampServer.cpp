#include "support/BusyTimestampServer.h"

#include <optional>
#include <thread>

BusyTimestampServer::BusyTimestampServer(int AtOnce, std::chrono::milliseconds PerRequest)
    : Server(TTimestampBehaviour::Answer,
             [this, AtOnce, PerRequest](const THttpRequest&) -> std::optional<THttpResponse> {
               if (++InFlight > AtOnce) {
                 --InFlight;
                 ++RefusedCount;
                 return THttpResponse{429, "text/plain", "too many at once", {{"Retry-After", "1"}}};
               }
               std::this_thread::sleep_for(PerRequest);
               --InFlight;
               return std::nullopt;
             }) {}
