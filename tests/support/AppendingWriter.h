#pragma once
// Another process that keeps a file open and appends a numbered line to it once a second
// ("record 1\n", "record 2\n", ...), the way a logger or a slow download does.
#include <QProcess>
#include <cstdint>
#include <string>
#include <vector>

class TAppendingWriter {
 public:
  // Returns once the writer has the file open.
  explicit TAppendingWriter(const std::string& Path);
  ~TAppendingWriter();

  // Waits until the writer has appended its Count-th record.
  void WaitForRecord(int Count);
  int RecordsWritten() const { return Written; }
  // Ends the writer; the records it wrote are then final.
  void Stop();

  // Whether Content is Before followed by every record the writer wrote, in order.
  bool KeptEveryRecord(const std::vector<std::uint8_t>& Content, const std::vector<std::uint8_t>& Before) const;

 private:
  QProcess Process;
  int Written = 0;
};
