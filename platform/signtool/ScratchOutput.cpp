#include "ScratchOutput.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

TScratchOutput::TScratchOutput(const std::string& Folder) {
  std::string Template = Folder + "/.signtool-XXXXXX";
  if (::mkdtemp(Template.data()) == nullptr) {
    Error = errno;
    return;
  }
  FolderPath = Template;
  Watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (Watch < 0 || ::inotify_add_watch(Watch, FolderPath.c_str(), IN_CREATE) < 0) {
    Error = errno;
    if (Watch >= 0) ::close(Watch);
    Watch = -1;
  }
}

TScratchOutput::~TScratchOutput() {
  RemoveNames();
  if (File >= 0) ::close(File);
  if (Watch >= 0) ::close(Watch);
}

void TScratchOutput::Claim() {
  char Events[4096];
  while (Watch >= 0 && ::read(Watch, Events, sizeof(Events)) > 0) {
  }
  if (File >= 0 || FolderPath.empty()) return;
  File = ::open(Path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (File >= 0) RemoveNames();
}

void TScratchOutput::RemoveNames() {
  if (FolderPath.empty()) return;
  ::unlink(Path().c_str());
  ::rmdir(FolderPath.c_str());
  FolderPath.clear();
}
