#include "signing/KeySession.h"

#include <openssl/crypto.h>

#include <QCoreApplication>
#include <QScopeGuard>

#include <optional>

#include "cloud/CloudKeyAddress.h"
#include "cloud/OpenCloudKey.h"
#include "common/Pkcs11Uri.h"
#include "common/TextUtil.h"
#include "keys/AgentKey.h"
#include "keys/PfxKey.h"
#include "keys/LockedTokenKey.h"
#include "keys/TokenLock.h"

namespace {
TKeySessionOpening Refused(TKeySessionFailure Failure, const QString& Message) { return {nullptr, Failure, Message}; }

// The reason in the key layer's own (English) words, for the failures that need no advice.
QString CannotOpen(const std::string& Reason) {
  return QCoreApplication::translate("TKeySession", "无法打开签名密钥：%1").arg(QString::fromStdString(Reason));
}

struct TOpenedKey {
  std::unique_ptr<TSigningKey> Key;
  TKeySessionOpening Refusal;
};

TOpenedKey OpenPfxKey(const std::string& Path, std::string_view Password) {
  std::optional<std::string> Copy(std::in_place, Password);
  const auto Wipe = qScopeGuard([&Copy] { OPENSSL_cleanse(Copy->data(), Copy->size()); });
  TPfxOpenResult Opened = OpenPfx(Path, Copy);
  switch (Opened.Failure) {
    case TPfxFailure::None:
      return {std::move(Opened.Key), {}};
    case TPfxFailure::WrongPassword:
      return {nullptr, Refused(TKeySessionFailure::Secret, QCoreApplication::translate("TKeySession", "证书密码不正确"))};
    case TPfxFailure::CannotOpen:
      return {nullptr, Refused(TKeySessionFailure::Certificate, QCoreApplication::translate("TKeySession", "无法读取证书文件"))};
    case TPfxFailure::NotPfx:
      return {nullptr, Refused(TKeySessionFailure::Certificate, QCoreApplication::translate("TKeySession", "证书文件不是PFX文件，或其中没有私钥和证书"))};
    case TPfxFailure::Undecodable:
      break;
  }
  return {nullptr, Refused(TKeySessionFailure::Certificate, CannotOpen(Opened.Message))};
}

TOpenedKey OpenTokenKey(const std::string& UriText, std::string_view Pin) {
  const std::optional<TPkcs11Uri> Uri = ParsePkcs11Uri(UriText);
  if (!Uri) return {nullptr, Refused(TKeySessionFailure::Certificate, QCoreApplication::translate("TKeySession", "在已连接的令牌或智能卡上找不到该证书"))};
  // The user's signtool.exe runs on the same token take turns with this session: the lookup, the
  // login and each signature wait for the token. Another process holds it for one login or one
  // signature at a time, so a wait much longer than those is one that would not end.
  static constexpr std::chrono::seconds LongestWait{60};
  TTokenTurns Turns;
  Turns.Deadline = [] { return std::chrono::steady_clock::now() + LongestWait; };
  Turns.HeedRefusalsNotedMeanwhile = false;
  const TTokenLock Looking(TokenLookupLock, Turns.Deadline(), -1);
  if (Looking.State() != TTokenLock::TState::Held)
    return {nullptr, Refused(TKeySessionFailure::Certificate, CannotOpen(Looking.State() == TTokenLock::TState::Refused
                                                                             ? Looking.Problem()
                                                                             : TokenInUseUntilTheLimit))};
  TPkcs11KeyRequest Request;
  Request.Uri = *Uri;
  Request.Pin = Pin;
  TLockedTokenOpening Opened = OpenLockedTokenKey(std::move(Request), std::move(Turns));
  switch (Opened.Failure) {
    case TPkcs11Failure::None:
      return {std::move(Opened.Key), {}};
    case TPkcs11Failure::WrongPin:
      return {nullptr, Refused(TKeySessionFailure::Secret, QCoreApplication::translate("TKeySession", "令牌PIN不正确"))};
    case TPkcs11Failure::PinLocked:
      return {nullptr, Refused(TKeySessionFailure::Secret, QCoreApplication::translate("TKeySession", "令牌PIN已被锁定，请用令牌的管理工具解锁"))};
    case TPkcs11Failure::PinNeeded:
    case TPkcs11Failure::LoginFailed:
      return {nullptr, Refused(TKeySessionFailure::Secret, CannotOpen(Opened.Message))};
    case TPkcs11Failure::TokenNotFound:
    case TPkcs11Failure::KeyNotFound:
    case TPkcs11Failure::CertificateNotFound:
      return {nullptr, Refused(TKeySessionFailure::Certificate, QCoreApplication::translate("TKeySession", "在已连接的令牌或智能卡上找不到该证书"))};
    case TPkcs11Failure::ModuleNotLoaded:
    case TPkcs11Failure::TokenAmbiguous:
    case TPkcs11Failure::Refused:
    case TPkcs11Failure::KeyAmbiguous:
    case TPkcs11Failure::KeyUnsupported:
    case TPkcs11Failure::CertificateMismatch:
      break;
  }
  return {nullptr, Refused(TKeySessionFailure::Certificate, CannotOpen(Opened.Message))};
}
// The failure in the user's language; the service's own words, which only it has, follow.
QString CloudFailureText(const TCloudFailure& Failure, std::string_view Service) {
  QString Text = QCoreApplication::translate("CloudFailure", CloudFailureMeaning(Failure.Kind).data())
                     .arg(QString::fromUtf8(Service.data(), static_cast<qsizetype>(Service.size())));
  if (!Failure.Detail.empty()) Text += QStringLiteral(": ") + QString::fromStdString(Failure.Detail);
  return Text;
}

// A token in the password box that the service refuses is the box's fault; every other failure
// concerns the address, the credentials found elsewhere, or the service.
TOpenedKey OpenServiceKey(const std::string& Text, std::string_view Secret) {
  const TCloudKeyAddressParse Parsed = ParseCloudKeyAddress(Text);
  if (!Parsed.Address) return {nullptr, Refused(TKeySessionFailure::Certificate, CannotOpen(Parsed.Problem))};
  TCloudKeyOpening Opened = OpenCloudKey(*Parsed.Address, Secret, {}, TSteadyClock::now() + std::chrono::minutes(2), -1);
  if (Opened.Key) return {std::move(Opened.Key), {}};
  const bool TokenRefused = Opened.Failure.Kind == TCloudFailure::TKind::Unauthorized &&
                            Secret.find_first_not_of(" \t\r\n") != std::string_view::npos;
  return {nullptr, Refused(TokenRefused ? TKeySessionFailure::Secret : TKeySessionFailure::Certificate,
                           CloudFailureText(Opened.Failure, CloudServiceName(Parsed.Address->Service)))};
}
}  // namespace

std::vector<std::pair<std::string, std::string>> TKeySession::RunEnvironment() const {
  return {{KeyAgentVariable, Agent->SocketPath()}};
}

TKeySessionOpening OpenKeySession(const std::string& Certificate, std::string_view Secret) {
  const std::string Name = Trim(Certificate);
  TOpenedKey Opened = IsCloudKeyAddress(Name) ? OpenServiceKey(Name, Secret)
                      : IsPkcs11Uri(Name)      ? OpenTokenKey(Name, Secret)
                                               : OpenPfxKey(Name, Secret);
  if (!Opened.Key) return std::move(Opened.Refusal);
  TKeyAgent::TStartResult Started = TKeyAgent::Start(std::move(Opened.Key));
  if (!Started.Agent)
    return Refused(TKeySessionFailure::Session,
                   QCoreApplication::translate("TKeySession", "无法开始签名会话：%1").arg(QString::fromStdString(Started.Error)));
  auto Session = std::make_unique<TKeySession>();
  Session->Certificate = Name;
  Session->Agent = std::move(Started.Agent);
  return {std::move(Session), TKeySessionFailure::None, {}};
}
