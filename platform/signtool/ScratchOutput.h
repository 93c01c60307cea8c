#pragma once
// Where osslsigncode writes a signed file. It takes only a name that does not exist yet, so it
// gets one in a fresh folder beside the original (".signtool-XXXXXX/signed"). As soon as it has
// created the file, the file is opened here and its name removed together with the folder: from
// then on only the two programs' open descriptors keep it, and it vanishes with them whenever
// either is killed.
#include <string>

class TScratchOutput {
 public:
  explicit TScratchOutput(const std::string& Folder);
  ~TScratchOutput();
  TScratchOutput(const TScratchOutput&) = delete;
  TScratchOutput& operator=(const TScratchOutput&) = delete;

  bool IsValid() const { return !FolderPath.empty() && Watch >= 0; }
  int CreateError() const { return Error; }  // errno, when not valid
  std::string Path() const { return FolderPath + "/signed"; }
  // Readable when something was created in the folder.
  int WatchDescriptor() const { return Watch; }
  // Opens the file and removes its name, once it exists.
  void Claim();
  // The signed file after Claim, or -1 when osslsigncode never made it.
  int Descriptor() const { return File; }

 private:
  void RemoveNames();

  std::string FolderPath;
  int Watch = -1;
  int File = -1;
  int Error = 0;
};
