// Saves a history again and again as a window of its own does, for the tests of programs saving
// one config.ini at the same time. Loads the Description history of the config.ini named by the
// first argument, waits for a line on standard input, then adds "<second argument>-<n>" for n
// from 1 to the third argument, saving after each.
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "history/HistoryList.h"
#include "history/HistoryStore.h"

int main(int Argc, char** Argv) {
  if (Argc != 4) return 2;
  const std::string Path = Argv[1];
  const std::string Prefix = Argv[2];
  const int Count = std::atoi(Argv[3]);
  std::vector<std::string> Entries = HistoryEntries(THistoryStore(Path), "Description");
  std::string Go;
  std::getline(std::cin, Go);
  for (int N = 1; N <= Count; ++N) {
    Entries.push_back(Prefix + "-" + std::to_string(N));
    THistoryStore Store(Path);
    WriteHistory(Store, "Description", Entries);
    try {
      Store.Save();
    } catch (const std::exception& Error) {
      std::cerr << Error.what() << '\n';
      return 1;
    }
  }
  return 0;
}
