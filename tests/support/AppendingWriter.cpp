#include "support/AppendingWriter.h"

#include <stdexcept>

namespace {
// It reports on its standard output once the file is open ("0") and after each record (its
// number).
constexpr const char* Script =
    "exec 3>>\"$1\" || exit 1; i=0; echo $i;"
    "while :; do sleep 1; i=$((i+1)); echo \"record $i\" >&3; echo $i; done";
}  // namespace

TAppendingWriter::TAppendingWriter(const std::string& Path) {
  Process.start("sh", {"-c", Script, "sh", QString::fromStdString(Path)});
  if (!Process.waitForReadyRead(20000)) throw std::runtime_error("the writer did not start");
  Process.readLine();
}

TAppendingWriter::~TAppendingWriter() { Stop(); }

void TAppendingWriter::WaitForRecord(int Count) {
  while (Written < Count) {
    if (!Process.canReadLine() && !Process.waitForReadyRead(20000)) throw std::runtime_error("the writer stopped");
    while (Process.canReadLine()) Written = Process.readLine().trimmed().toInt();
  }
}

void TAppendingWriter::Stop() {
  if (Process.state() == QProcess::NotRunning) return;
  Process.kill();
  Process.waitForFinished();
}

bool TAppendingWriter::KeptEveryRecord(const std::vector<std::uint8_t>& Content,
                                       const std::vector<std::uint8_t>& Before) const {
  if (Content.size() < Before.size() || !std::equal(Before.begin(), Before.end(), Content.begin())) return false;
  // A record written in the instant of the kill may not have been reported.
  std::string Expected;
  const std::string Rest(Content.begin() + static_cast<std::ptrdiff_t>(Before.size()), Content.end());
  for (int Record = 1;; ++Record) {
    if (Rest == Expected && Record > Written) return true;
    if (Expected.size() >= Rest.size()) return false;
    Expected += "record " + std::to_string(Record) + "\n";
  }
}
