#include "common/PinRefusal.h"

namespace {
constexpr std::string_view ErrorPrefix = "SignTool Error: ";
}  // namespace

std::string_view PinRefusalText(TPinRefusal Refusal) {
  switch (Refusal) {
    case TPinRefusal::Wrong: return "The card cannot be accessed because the wrong PIN was presented.";
    case TPinRefusal::Locked:
      return "The card cannot be accessed because the maximum number of PIN entry attempts has been reached.";
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
        if (Line == PinRefusalText(Refusal)) return Refusal;
    }
    if (End == std::string_view::npos) break;
    ErrorOutput.remove_prefix(End + 1);
  }
  return TPinRefusal::None;
}
