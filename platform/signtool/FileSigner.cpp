#include "FileSigner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "FileFormat.h"
#include "OsslsigncodeRun.h"
#include "PfxCheck.h"

namespace {
// How long a signing that talks to a time-stamp server may take before the server is given up.
constexpr std::chrono::seconds TimestampTimeLimit{30};

std::string SystemError() { return std::strerror(errno); }

std::string FolderOf(const std::string& Path) {
  const std::size_t Slash = Path.rfind('/');
  if (Slash == std::string::npos) return ".";
  return Slash == 0 ? "/" : Path.substr(0, Slash);
}

// The file a path names, through any symbolic links, so that a link stays a link.
std::string RealFile(const std::string& Path) {
  char Resolved[PATH_MAX];
  return ::realpath(Path.c_str(), Resolved) ? std::string(Resolved) : Path;
}

// A private folder beside the file being signed; removed with whatever is left in it.
class TScratchFolder {
 public:
  explicit TScratchFolder(const std::string& Beside) {
    std::string Template = FolderOf(Beside) + "/.signtool-XXXXXX";
    if (::mkdtemp(Template.data())) Path = Template;
  }
  ~TScratchFolder() {
    if (Path.empty()) return;
    ::unlink(Output().c_str());
    ::rmdir(Path.c_str());
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;
  bool IsValid() const { return !Path.empty(); }
  std::string Output() const { return Path + "/signed"; }

 private:
  std::string Path;
};

// Gives Signed the original's permission bits (and owner, where allowed), makes it durable and
// renames it over Original. Empty on success, else the reason.
std::string ReplaceFile(const std::string& Signed, const std::string& Original, const struct stat& Info) {
  const int Descriptor = ::open(Signed.c_str(), O_RDONLY | O_CLOEXEC);
  if (Descriptor < 0) return SystemError();
  if (Info.st_uid != ::geteuid() || Info.st_gid != ::getegid())
    (void)!::fchown(Descriptor, Info.st_uid, Info.st_gid);
  const bool Ready = ::fchmod(Descriptor, Info.st_mode & 07777) == 0 && ::fsync(Descriptor) == 0;
  const std::string Reason = Ready ? std::string() : SystemError();
  ::close(Descriptor);
  if (!Ready) return Reason;
  if (::rename(Signed.c_str(), Original.c_str()) != 0) return SystemError();
  return {};
}

// osslsigncode's own explanation: its lines without the verdict and the OpenSSL error queue.
std::string Explanation(const std::string& Output) {
  std::size_t Start = 0;
  while (Start < Output.size()) {
    std::size_t End = Output.find('\n', Start);
    if (End == std::string::npos) End = Output.size();
    const std::string Line = Output.substr(Start, End - Start);
    Start = End + 1;
    if (!Line.empty() && Line != "Failed" && Line != "Succeeded" && Line.find(":error:") == std::string::npos)
      return Line;
  }
  return "osslsigncode failed without saying why";
}
}  // namespace

std::vector<std::string> TFileSigner::Arguments(const std::string& In, const std::string& Out,
                                                bool WithTimestamp) const {
  std::vector<std::string> Result{"sign", "-pkcs12", Options.PfxPath, "-h", Options.Digest};
  if (Options.Password) {
    Result.push_back("-readpass");
    Result.push_back("-");
  }
  if (!Options.Description.empty()) {
    Result.push_back("-n");
    Result.push_back(Options.Description);
  }
  if (!Options.DescriptionUrl.empty()) {
    Result.push_back("-i");
    Result.push_back(Options.DescriptionUrl);
  }
  if (WithTimestamp && !Options.AuthenticodeUrl.empty()) {
    Result.push_back("-t");
    Result.push_back(Options.AuthenticodeUrl);
  }
  if (WithTimestamp && !Options.Rfc3161Url.empty()) {
    Result.push_back("-ts");
    Result.push_back(Options.Rfc3161Url);
  }
  Result.insert(Result.end(), {"-in", In, "-out", Out});
  return Result;
}

TSignResult TFileSigner::Sign(const std::string& File) const {
  const std::string Target = RealFile(File);
  struct stat Info {};
  if (::stat(Target.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode))
    return {TSignOutcome::Failed, "File not found: " + File};
  TScratchFolder Scratch(Target);
  if (!Scratch.IsValid())
    return {TSignOutcome::Failed, "Unable to create a temporary file beside " + File + ": " + SystemError()};

  const bool WantsTimestamp = !Options.AuthenticodeUrl.empty() || !Options.Rfc3161Url.empty();
  TOsslsigncodeResult Run;
  if (WantsTimestamp) Run = RunOsslsigncode(Arguments(Target, Scratch.Output(), true), Options.Password,
                                            TimestampTimeLimit);
  bool Timestamped = WantsTimestamp && Run.Succeeded;
  if (!Run.Succeeded) {
    // Signing again without the server tells a time-stamp failure from any other one.
    ::unlink(Scratch.Output().c_str());
    Run = RunOsslsigncode(Arguments(Target, Scratch.Output(), false), Options.Password, std::nullopt);
  }
  if (!Run.Started) return {TSignOutcome::Failed, "Unable to run osslsigncode."};
  if (!Run.Succeeded) return Diagnose(File, Run.Output);

  const std::string Problem = ReplaceFile(Scratch.Output(), Target, Info);
  if (!Problem.empty()) return {TSignOutcome::Failed, "Unable to replace " + File + ": " + Problem};
  return {Timestamped || !WantsTimestamp ? TSignOutcome::Signed : TSignOutcome::SignedWithoutTimestamp, {}};
}

TSignResult TFileSigner::Diagnose(const std::string& File, const std::string& Output) const {
  struct stat Info {};
  switch (CheckPfx(Options.PfxPath, Options.Password)) {
    case TPfxState::CannotOpen:
      if (::stat(Options.PfxPath.c_str(), &Info) != 0)
        return {TSignOutcome::CertificateUnusable, "File not found: " + Options.PfxPath};
      return {TSignOutcome::CertificateUnusable, "The specified PFX file could not be opened: " + Options.PfxPath};
    case TPfxState::NotPfx:
      return {TSignOutcome::CertificateUnusable, "The specified file is not a valid PFX file: " + Options.PfxPath};
    case TPfxState::WrongPassword:
      return {TSignOutcome::CertificateUnusable, "The specified PFX password is not correct."};
    case TPfxState::Usable:
    case TPfxState::Unknown:
      break;
  }
  if (!IsSignableFormat(File)) return {TSignOutcome::Failed, "This file format cannot be signed because it is not recognized."};
  return {TSignOutcome::Failed, "An unexpected internal error has occurred.\nError information: \"" +
                                    Explanation(Output) + "\""};
}
