#include "signing/BatchPace.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "authenticode/PaceFile.h"

TBatchPace::TBatchPace(std::chrono::milliseconds Interval) : Interval(Interval), Folder(OpenPrivateFolder(0)) {
  if (Folder.Path.empty()) return;
  std::string Template = (Folder.Path / "quillory-pace-XXXXXX").native();
  const int File = ::mkostemp(Template.data(), O_CLOEXEC);
  if (File < 0) return;
  ::close(File);
  Path = std::move(Template);
}

TBatchPace::~TBatchPace() {
  if (!Path.empty()) ::unlink(Path.c_str());
  if (Folder.MadeForUs) ::rmdir(Folder.Path.c_str());
}

std::vector<std::pair<std::string, std::string>> TBatchPace::RunEnvironment() const {
  // Empty, the variable hides one the window itself may have inherited.
  return {{TimestampIntervalVariable, std::to_string(Interval.count())}, {TimestampPaceVariable, Path}};
}
