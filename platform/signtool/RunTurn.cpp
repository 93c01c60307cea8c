#include "RunTurn.h"

#include <openssl/crypto.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "Interruption.h"
#include "keys/AgentKey.h"

bool AwaitTurn() {
  if (std::getenv(AwaitTurnVariable) == nullptr) return true;
  // Reads the configuration file and sets up the providers, which every signature needs.
  OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr);
  for (;;) {
    pollfd Waits[2] = {{STDIN_FILENO, POLLIN, 0}, {InterruptionDescriptor(), POLLIN, 0}};
    if (::poll(Waits, Waits[1].fd < 0 ? 1 : 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    ThrowIfInterrupted();
    if (Waits[0].revents == 0) continue;
    char Turn = 0;
    const ssize_t Read = ::read(STDIN_FILENO, &Turn, 1);
    if (Read < 0 && errno == EINTR) continue;
    return Read == 1;
  }
}
