#include "signing/KeySession.h"

#include <openssl/crypto.h>

#include <QCoreApplication>
#include <QScopeGuard>

#include <optional>

#include "common/Pkcs11Uri.h"
#include "common/TextUtil.h"
#include "keys/AgentKey.h"
#include "keys/PfxKey.h"
#include "keys/Pkcs11Key.h"

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
  TPkcs11KeyRequest Request;
  Request.Uri = *Uri;
  Request.Pin = Pin;
  TPkcs11OpenResult Opened = OpenPkcs11Key(Request);
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
}  // namespace

std::vector<std::pair<std::string, std::string>> TKeySession::RunEnvironment() const {
  return {{KeyAgentVariable, Agent->SocketPath()}};
}

TKeySessionOpening OpenKeySession(const std::string& Certificate, std::string_view Secret) {
  const std::string Name = Trim(Certificate);
  TOpenedKey Opened = IsPkcs11Uri(Name) ? OpenTokenKey(Name, Secret) : OpenPfxKey(Name, Secret);
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
