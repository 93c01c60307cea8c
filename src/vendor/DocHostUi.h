#pragma once
// The document host's vocabulary: answer codes, the host-info record the browser asks for and
// the host-flag bits. The record keeps the 20-byte layout of the 32-bit original, so its two
// text pointers are 32-bit fields; 0 stands for "no text" and nothing else is ever stored there.
#include <cstdint>
#include <cstdlib>

using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);

struct DOCHOSTUIINFO {
  std::uint32_t cbSize;
  std::uint32_t dwFlags;
  std::uint32_t dwDoubleClick;
  std::uint32_t pchHostCss;
  std::uint32_t pchHostNS;
};
static_assert(sizeof(DOCHOSTUIINFO) == 20, "the host-info record is 20 bytes");

inline constexpr std::uint32_t DOCHOSTUIDBLCLK_DEFAULT = 0;

inline constexpr std::uint32_t DOCHOSTUIFLAG_NO3DBORDER = 0x4;
inline constexpr std::uint32_t DOCHOSTUIFLAG_SCROLL_NO = 0x8;
inline constexpr std::uint32_t DOCHOSTUIFLAG_DIV_BLOCKDEFAULT = 0x100;
inline constexpr std::uint32_t DOCHOSTUIFLAG_THEME = 0x40000;

inline constexpr int DISPID_AMBIENT_DLCONTROL = -5512;

// The context-menu kind the browser reports for an ordinary right-click on the page, and the
// user-interface kind it shows while browsing.
inline constexpr std::uint32_t CONTEXT_MENU_DEFAULT = 0;
inline constexpr std::uint32_t DOCHOSTUITYPE_BROWSE = 0;

// The buttons and icon a page's message asks for, and what the host may answer.
inline constexpr std::uint32_t MB_OK = 0x0;
inline constexpr std::uint32_t MB_OKCANCEL = 0x1;
inline constexpr std::uint32_t MB_ICONQUESTION = 0x20;
inline constexpr std::uint32_t MB_ICONWARNING = 0x30;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Memory handed to the browser's side is released with TaskMemFree.
inline void* TaskMemAlloc(std::size_t Bytes) { return std::malloc(Bytes); }
inline void TaskMemFree(void* Block) { std::free(Block); }
