#pragma once
// Lends one key to the other processes of this user for as long as a batch lasts, as ssh-agent
// does: they connect to a socket in a private folder and ask for the certificates and for
// signatures over digests (TAgentKey is the other end). The key, and whatever unlocked it, stay in
// this process. Connections from another user are closed unanswered. One thread serves every
// connection, a request at a time, so a token never signs two digests at once.
//
// The agent also makes the batch's HTTP requests (its timestamp requests) for its clients, each on
// a thread of its own, so that a short run never pays for loading an HTTP library of its own.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "authenticode/HttpCall.h"
#include "authenticode/SigningKey.h"
#include "common/Descriptor.h"
#include "keys/PrivateFolder.h"

class TKeyAgent {
 public:
  struct TStartResult {
    std::unique_ptr<TKeyAgent> Agent;  // empty on failure
    std::string Error;                 // English
  };
  static TStartResult Start(std::unique_ptr<TSigningKey> Key);

  ~TKeyAgent();
  TKeyAgent(const TKeyAgent&) = delete;
  TKeyAgent& operator=(const TKeyAgent&) = delete;

  // Where clients connect; for the environment of the processes that should reach the key.
  const std::string& SocketPath() const { return Path; }

  // Closes the socket and every connection, removes the socket (and its folder when it was made
  // for it), waits for a signature under way, and destroys the key. Clients then fail at once.
  // Safe to call more than once.
  void Stop();

 private:
  TKeyAgent(std::unique_ptr<TSigningKey> Key, TPrivateFolder Folder, std::string Path, TDescriptor Listener,
            TDescriptor Wake, TDescriptor Replied);
  void Serve();
  void Work();   // a worker: makes the queued signatures until the agent stops
  void Fetch();  // a worker: makes the queued HTTP calls until the agent stops
  void PostReply(std::uint64_t Connection, std::vector<std::uint8_t> Reply);

  // A signature asked for on a connection, and its reply once made.
  struct TSignJob {
    std::uint64_t Connection;
    std::vector<std::uint8_t> Digest;
    const EVP_MD* Md;
  };
  struct THttpJob {
    std::uint64_t Connection;
    THttpCall Call;
    std::chrono::milliseconds Time;
  };
  struct TReply {
    std::uint64_t Connection;
    std::vector<std::uint8_t> Reply;
  };
  // Queues Job, and starts a worker for it when none is idle and there are fewer than the most.
  void QueueHttpCall(THttpJob Job);

  std::unique_ptr<TSigningKey> Key;
  TPrivateFolder Folder;
  std::string Path;
  TDescriptor Listener;
  TDescriptor Wake;  // an eventfd that tells the serving thread to end
  TDescriptor Replied;  // an eventfd that tells it a worker has made a reply
  std::mutex StopLock;
  std::thread Server;
  std::mutex JobLock;  // guards the six below
  std::condition_variable JobQueued;
  std::deque<TSignJob> Jobs;
  std::condition_variable HttpQueued;
  std::deque<THttpJob> HttpJobs;
  std::size_t IdleHttpWorkers = 0;
  std::vector<TReply> Replies;
  bool Stopping = false;
  std::vector<std::thread> Workers;
  std::vector<std::thread> HttpWorkers;  // started by the serving thread as calls come
};
