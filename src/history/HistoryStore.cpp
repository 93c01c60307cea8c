#include "history/HistoryStore.h"

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "common/SafeFileWrite.h"
#include "common/SmallFileRead.h"
#include "common/TextUtil.h"

namespace {
// Another window's save takes milliseconds; a lock held longer belongs to something else.
constexpr auto LockWait = std::chrono::seconds(3);
constexpr auto LockPoll = std::chrono::milliseconds(10);

std::string FullPath(const std::string& Path) {
  std::error_code Error;
  const std::filesystem::path Absolute = std::filesystem::absolute(Path, Error);
  return Error ? Path : Absolute.lexically_normal().string();
}
}  // namespace

THistoryStore::THistoryStore(std::string Path) : FPath(std::move(Path)) {
  std::string Content;
  switch (ReadSmallFile(FPath, MaxFileSize, Content)) {
    case TSmallFileRead::Read: FDocument = TIniDocument(Content); break;
    case TSmallFileRead::Missing: break;
    case TSmallFileRead::Unreadable: FUnreadable = true; break;
  }
}

std::vector<std::string> THistoryStore::Keys(std::string_view Section) const { return FDocument.Keys(Section); }

std::string THistoryStore::Read(std::string_view Section, std::string_view Key) const {
  const std::string Value = FDocument.Value(Section, Key).value_or("");
  return Trim(CutUtf8(std::string_view(Value).substr(0, Value.find('\0')), MaxValueLength));
}

void THistoryStore::Write(std::string_view Section, std::string_view Key, std::string_view Value) {
  Edit([Section = std::string(Section), Key = std::string(Key), Value = std::string(Value)](THistoryStore& Store) {
    // A line that already reads as Value keeps its own bytes (blanks around the value, and
    // whatever follows a NUL).
    if (Store.FDocument.Value(Section, Key) && Store.Read(Section, Key) == Value) return;
    Store.FDocument.SetValue(Section, Key, Value);
  });
}

void THistoryStore::Delete(std::string_view Section, std::string_view Key) {
  Edit([Section = std::string(Section), Key = std::string(Key)](THistoryStore& Store) {
    Store.FDocument.Delete(Section, Key);
  });
}

void THistoryStore::Edit(std::function<void(THistoryStore&)> Change) {
  if (FInsideEdit) {
    Change(*this);
    return;
  }
  FInsideEdit = true;
  try {
    Change(*this);
  } catch (...) {
    FInsideEdit = false;
    throw;
  }
  FInsideEdit = false;
  FEdits.push_back(std::move(Change));
}

void THistoryStore::Save() {
  const std::string Failure = "Unable to write to " + FullPath(FPath);
  const auto Deadline = std::chrono::steady_clock::now() + LockWait;
  const auto MayWait = [&] {
    if (std::chrono::steady_clock::now() >= Deadline) return false;
    std::this_thread::sleep_for(LockPoll);
    return true;
  };
  for (;;) {
    TFileReplacement Replacement;
    switch (Replacement.Open(FPath, true)) {
      case TFileReplacement::TOpenResult::Opened:
      case TFileReplacement::TOpenResult::Created: break;
      case TFileReplacement::TOpenResult::Locked:
      case TFileReplacement::TOpenResult::InUse:
        if (MayWait()) continue;
        throw std::runtime_error(Failure);
      case TFileReplacement::TOpenResult::NotRegular:
      case TFileReplacement::TOpenResult::Failed: throw std::runtime_error(Failure);
    }
    // Read under the lock: no other window saves until this one is done.
    THistoryStore Current(FPath);
    if (Current.FUnreadable) throw std::runtime_error(Failure);
    Current.FInsideEdit = true;
    for (const auto& Change : FEdits) Change(Current);
    const std::string Content = Current.FDocument.Text();
    try {
      Replacement.CheckWritable();
      CommitContent(Replacement, {reinterpret_cast<const std::uint8_t*>(Content.data()), Content.size()});
    } catch (const TReplaceError& Error) {
      // Replaced or locked by a program that does not wait for this lock: once more from its content.
      const bool Raced = Error.Kind == TReplaceError::TKind::Changed || Error.Kind == TReplaceError::TKind::Locked ||
                         Error.Kind == TReplaceError::TKind::InUse;
      if (Raced && MayWait()) continue;
      throw std::runtime_error(Failure);
    } catch (const std::exception&) {
      throw std::runtime_error(Failure);
    }
    FDocument = std::move(Current.FDocument);
    FUnreadable = false;
    FEdits.clear();
    return;
  }
}
