#include "common/PinRefusal.h"

namespace {
constexpr std::string_view ErrorPrefix = "SignTool Error: ";
}  // namespace

std::string PinRefusalText(TPinRefusal Refusal, TMessageLanguage Language) {
  switch (Refusal) {
    case TPinRefusal::Wrong: return MessageText(TMessage::WrongPin, Language);
    case TPinRefusal::Locked: return MessageText(TMessage::PinLocked, Language);
    case TPinRefusal::None: break;
  }
  return {};
}

TPinRefusal PinRefusalReported(std::string_view ErrorOutput) {
  while (!ErrorOutput.empty()) {
    const std::size_t End = ErrorOutput.find('\n');
    std::string_view Line = ErrorOutput.substr(0, End);
    if (Line.ends_with('\r')) Line.remove_suffix(1);
    if (Line.starts_with(ErrorPrefix)) {
      Line.remove_prefix(ErrorPrefix.size());
      for (const TPinRefusal Refusal : {TPinRefusal::Wrong, TPinRefusal::Locked})
        for (const TMessageLanguage Language : {TMessageLanguage::English, TMessageLanguage::Chinese})
          if (Line == PinRefusalText(Refusal, Language)) return Refusal;
    }
    if (End == std::string_view::npos) break;
    ErrorOutput.remove_prefix(End + 1);
  }
  return TPinRefusal::None;
}
