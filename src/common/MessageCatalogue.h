#pragma once
// The texts the Qt-free programs print (signtool.exe), each in Chinese and in English, and the
// language a program prints them in. One table holds both: signtool.exe's own messages, named by
// TMessage, and the texts the Qt-free routines return for the window (DisplayedText.h), found by
// their Chinese source, so that signtool.exe says them in the words the window shows.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

enum class TMessageLanguage : std::uint8_t { Chinese, English };

// Set by the window for its children: "zh_CN" or "en".
inline constexpr char LanguageVariable[] = "QUILLORY_LANGUAGE";
std::string_view LanguageVariableValue(TMessageLanguage Language);

// Chinese for a locale name of the zh family ("zh_CN.UTF-8", "zh-TW", "zh"), English for any other.
TMessageLanguage LanguageOfLocaleName(std::string_view Name);
// This process's: QUILLORY_LANGUAGE when set, else the first of LANGUAGE (its first entry),
// LC_ALL, LC_MESSAGES and LANG that is set and not empty; English when none is.
TMessageLanguage LanguageOfEnvironment();

enum class TMessage : std::uint16_t {
  MissingParameter,
  InvalidCommand,
  InvalidOption,
  MissingOptionValue,
  InvalidDescriptor,
  InvalidParallel,
  InvalidDigest,
  NoCertificateFound,
  SeveralCertificates,
  MissingFilename,
  NoFileMatches,
  FileListUnreadable,
  RemoveNeedsSignature,
  PasswordDescriptorUnreadable,
  PasswordTooLong,
  PasswordVariableUnset,
  PfxNotRegular,
  CertificateFileNotRegular,
  FileNotFound,
  PfxUnopenable,
  NotPfx,
  WrongPfxPassword,
  ExtraCertificatesUnreadable,
  ModuleNotLoaded,
  InvalidPkcs11Uri,
  CertificateFileUnreadable,
  TokenBusy,
  WrongPin,
  PinLocked,
  DiskFull,
  ReadDenied,
  CannotOpen,
  Locked,
  InUse,
  WriteDenied,
  ChangedMeanwhile,
  CannotReplace,
  IsFolder,
  NotRegularFile,
  NotSignable,
  NoSignatureIn,
  Signed,
  SignedWithoutTimestamp,
  SignFailed,
  AlreadySigned,
  ReportUnwritable,
  SignedCount,
  WarningCount,
  ErrorCount,
  TimestampServerFailed,
  PaceFileUnusable,
  Timestamped,
  AlreadyTimestamped,
  TimestampFailed,
  TimestampedCount,
  Unsigned,
  DidNotVerify,
  Untrusted,
  Expired,
  NotVerifiable,
  Malformed,
  NotVerified,
  Verified,
  ValidWithoutTimestamp,
  Verifying,
  Signer,
  Timestamp,
  NoTimestamp,
  Verdict,
  VerifiedCount,
  Removed,
  RemoveFailed,
  RemovedCount,
  InvalidThumbprint,
  TimestampOptionsClash,
  DigestNeedsRfc3161,
  PasswordOptionsClash,
  KeyContainerClash,
  ModuleNeedsKey,
  FileWithSelection,
  TimestampServerRequired,
  KeyNeedsTimestamp,
  PrimarySignatureIndex,
  SignatureIndex,
  InNestedSignature,
  NestedBeyondVerifying,
};

// Message in Language with %1 to %9 replaced by Arguments in order; the replacements are not
// searched again, so an argument's own % signs stay as they are.
std::string MessageText(TMessage Message, TMessageLanguage Language,
                        std::initializer_list<std::string_view> Arguments = {});
// A text a Qt-free routine returned by its Chinese source (see DisplayedText.h), in Language;
// unchanged when the table does not hold it.
std::string MarkedTextIn(TMessageLanguage Language, std::string_view Chinese);
