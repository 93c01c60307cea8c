#pragma once
// The browser host's user-interface options and the host-flag word they add up to.
#include <cstdint>
#include <initializer_list>

// Member k stands for host flag 2^k up to k = 14 and 2^(k+1) from k = 15 on (no member for 0x8000).
enum TUserInterfaceOption : std::uint8_t {
  DisableTextSelect,
  DisableHelpMenu,
  DontUse3DBorders,
  DontUseScrollBars,
  PostponeScriptUntilActive,
  ForceOpenNewWindow,
  Reserved_OFFSCREEN,
  ForceFlatScrollBars,
  InsertDivTagOnEditMode,
  ActivateUIOnlyOnDocClick,
  ConsultBeforeRetrievingBehavior,
  CheckFontSupportsCodePage,
  DisableSubmitUrlInUTF8,
  EnableSubmitUrlInUTF8,
  EnablesFormsAutoComplete,
  ForceSameWindowNavigation,
  EmableImeLocalLanguages,
  EnableThemes,
  DisableThemes,
  DisablePicsRatings,
  DisableFrameSetBorder,
  DisablesAutoNameSpaceCorrection,
  DisableLocalFileAccess,
  DisableUntrustedProtocol,
  CheckNavigationDelegatedToHost,
  EnableRedirectNotification,
  EnableDomWindlessControls,
  EnableWindowedControls,
  ForceUserActivationOnActiveXJava,
};

inline constexpr int UserInterfaceOptionCount = 29;

enum TEnterMode : std::uint8_t { emFlagP, emFlagDiv };

constexpr std::uint32_t HostFlagOf(TUserInterfaceOption Option) {
  const int K = Option;
  return K <= 14 ? std::uint32_t{1} << K : std::uint32_t{1} << (K + 1);
}

// A set of options, one bit per member number.
class TUserInterfaceOptions {
 public:
  constexpr TUserInterfaceOptions() = default;
  constexpr TUserInterfaceOptions(std::initializer_list<TUserInterfaceOption> Options) {
    for (const TUserInterfaceOption Option : Options) Include(Option);
  }

  constexpr void Include(TUserInterfaceOption Option) { Members |= std::uint32_t{1} << Option; }
  constexpr void Exclude(TUserInterfaceOption Option) { Members &= ~(std::uint32_t{1} << Option); }
  constexpr bool Contains(TUserInterfaceOption Option) const {
    return (Members >> Option & 1) != 0;
  }
  constexpr bool Empty() const { return Members == 0; }
  friend constexpr bool operator==(TUserInterfaceOptions A, TUserInterfaceOptions B) {
    return A.Members == B.Members;
  }

 private:
  std::uint32_t Members = 0;
};

// The host-flag word of a set: the sum of its members' flags.
constexpr std::uint32_t HostFlagsOf(TUserInterfaceOptions Options) {
  std::uint32_t Flags = 0;
  if (Options.Empty()) return Flags;
  for (int K = 0; K < UserInterfaceOptionCount; ++K) {
    const auto Option = static_cast<TUserInterfaceOption>(K);
    if (Options.Contains(Option)) Flags += HostFlagOf(Option);
  }
  return Flags;
}
