// Reads arbitrary bytes as a key agent reads a connection: frame after frame until one is refused;
// every request it takes must be written the same way again. The same bytes are read as a reply
// body, as a client reads the agent's answers; an HTTP answer it takes must be written the same way
// again.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "keys/KeyAgentProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::span<const std::uint8_t> Input(Data, Size);
  std::size_t Pos = 0;
  while (Size - Pos >= AgentFrameHeaderSize) {
    const auto Length = AgentFrameLength(Input.subspan(Pos, AgentFrameHeaderSize), MaxAgentRequestSize);
    if (!Length || Size - Pos - AgentFrameHeaderSize < *Length) break;
    const std::span<const std::uint8_t> Body = Input.subspan(Pos + AgentFrameHeaderSize, *Length);
    const std::optional<TAgentRequest> Request = ParseAgentRequest(Body);
    if (!Request) break;
    const std::optional<std::vector<std::uint8_t>> Again =
        Request->Kind == TAgentRequestKind::Sign   ? SignRequest(Request->Digest, Request->Md)
        : Request->Kind == TAgentRequestKind::Http ? HttpRequest(Request->Http, Request->HttpTime)
                                                   : CertificatesRequest();
    if (!Again || !std::equal(Again->begin(), Again->end(), Body.begin(), Body.end())) std::abort();
    Pos += AgentFrameHeaderSize + *Length;
  }

  if (const auto Certificates = ParseCertificatesReply(Input))
    if (Certificates->Der.empty() == Certificates->Error.empty()) std::abort();
  if (const auto Signature = ParseSignReply(Input))
    if (Signature->Value.empty() == Signature->Error.empty()) std::abort();
  if (const auto Answer = ParseHttpReply(Input))
    if (const std::vector<std::uint8_t> Again = HttpReply(*Answer); !std::equal(Again.begin(), Again.end(), Input.begin(), Input.end()))
      std::abort();
  return 0;
}
