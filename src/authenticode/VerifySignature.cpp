#include "authenticode/VerifySignature.h"

#include <openssl/err.h>

#include <exception>

#include "common/DisplayedText.h"
#include "authenticode/FileDigest.h"
#include "common/FileReader.h"
#include "authenticode/Pkcs7Parts.h"
#include "authenticode/SignatureCheck.h"
#include "authenticode/SignedContainer.h"
#include "authenticode/TrustStore.h"

namespace {
// How a nested signature's verdict reads inside the primary's message.
const char* ShortText(TVerifyState State) {
  switch (State) {
    case vsValid: return DISPLAYED_TEXT("VerifySignature", "有效");
    case vsValidNoTimestamp: return DISPLAYED_TEXT("VerifySignature", "有效但没有有效的时间戳");
    case vsTampered: return DISPLAYED_TEXT("VerifySignature", "已被篡改");
    case vsUntrusted: return DISPLAYED_TEXT("VerifySignature", "不受信任");
    case vsExpired: return DISPLAYED_TEXT("VerifySignature", "已过期");
    case vsUnsigned:
    case vsUnsupported:
    case vsUnreadable: break;
  }
  return DISPLAYED_TEXT("VerifySignature", "无法读取");
}

std::string NestedSummary(const TNestedVerdicts& Nested, const TTextTranslator& Translate) {
  const auto Text = [&Translate](const char* Source) { return Translate("VerifySignature", Source); };
  std::string Summary;
  int Number = 0;
  for (const TSignatureVerdict& Verdict : Nested.Checked) {
    Summary += Text(DISPLAYED_TEXT("VerifySignature", "；嵌套签名")) + std::to_string(++Number);
    if (Verdict.Signer.empty()) {
      Summary += Text(DISPLAYED_TEXT("VerifySignature", "："));
    } else {
      Summary += Text(DISPLAYED_TEXT("VerifySignature", "（")) + Verdict.Signer +
                 Text(DISPLAYED_TEXT("VerifySignature", "）"));
    }
    Summary += Text(ShortText(Verdict.State));
  }
  if (Nested.Unchecked > 0)
    Summary += Text(DISPLAYED_TEXT("VerifySignature", "；另有")) + std::to_string(Nested.Unchecked) +
               Text(DISPLAYED_TEXT("VerifySignature", "个嵌套签名未验证"));
  return Summary;
}

TVerifyResult Verify(const std::string& Path, const std::string& ExtraTrustFile, const TTextTranslator& Translate) {
  const auto Text = [&Translate](const char* Source) { return Translate("VerifySignature", Source); };
  const auto Outcome = [&Text](TVerifyState State, const char* Message) {
    return TVerifyResult{State, Text(Message), {}, {}};
  };
  TFileReader File;
  if (!File.Open(Path)) return Outcome(vsUnreadable, DISPLAYED_TEXT("VerifySignature", "无法打开文件"));
  if (File.Size() == 0) return Outcome(vsUnsupported, DISPLAYED_TEXT("VerifySignature", "文件为空"));
  const std::optional<TSignedContainer> Located = LocateSignature(File.Descriptor(), File.Size());
  if (!Located) return Outcome(vsUnreadable, DISPLAYED_TEXT("VerifySignature", "无法读取文件"));
  const TSignedContainer& Container = *Located;

  const char* Damaged = DISPLAYED_TEXT("VerifySignature", "签名数据已损坏");
  switch (Container.Kind) {
    case TContainerKind::Other:
      return Outcome(vsUnsupported, DISPLAYED_TEXT("VerifySignature", "不是程序文件或CAB文件，无法验证签名"));
    case TContainerKind::BrokenPe:
      return Outcome(vsUnsupported, DISPLAYED_TEXT("VerifySignature", "非法的PE文件"));
    case TContainerKind::Pe:
    case TContainerKind::Cab:
      break;
  }
  switch (Container.Slot) {
    case TSignatureSlot::Absent:
      return Outcome(vsUnsigned, DISPLAYED_TEXT("VerifySignature", "文件没有签名"));
    case TSignatureSlot::Malformed:
      return Outcome(vsUnreadable, Container.Fault);
    case TSignatureSlot::Misplaced:
      return Outcome(vsTampered, Container.Fault);
    case TSignatureSlot::Present:
      break;
  }
  const TPkcs7 SignedData = ParsePkcs7(Container.SignedData);
  if (!SignedData) return Outcome(vsUnreadable, Damaged);

  const TTrustStore Trust = TrustStore(ExtraTrustFile);
  if (!Trust.Store) return Outcome(vsUnreadable, DISPLAYED_TEXT("VerifySignature", "无法建立受信任证书列表"));
  X509_STORE* Store = Trust.Store.get();
  TFileDigests Digests(File.Descriptor(), Container.DigestedParts);
  const TSignatureVerdict Primary = CheckSignedData(SignedData.get(), Digests, Store);
  TVerifyResult Result{Primary.State, Text(Primary.Reason.c_str()), Primary.Signer, Primary.TimeStamp};
  if (!Result.TimeStamp.empty()) Result.Message += Text(DISPLAYED_TEXT("VerifySignature", "，时间戳 ")) + Result.TimeStamp;
  if (Primary.WeakDigest)
    Result.Message += Text(DISPLAYED_TEXT("VerifySignature", "（摘要算法SHA-1已不够安全，Windows仍然接受）"));
  if (Primary.State == vsUntrusted && Trust.ExtraTrustUnreadable)
    Result.Message += Text(DISPLAYED_TEXT("VerifySignature", "（无法读取附加的受信任证书文件）"));
  if (Primary.State != vsUnreadable) {
    const TNestedVerdicts Nested = CheckNestedSignatures(SignedData.get(), Digests, Store);
    Result.Message += NestedSummary(Nested, Translate);
    for (const TSignatureVerdict& Verdict : Nested.Checked)
      Result.Nested.push_back({Verdict.State, Verdict.Reason.empty() ? std::string() : Text(Verdict.Reason.c_str()),
                               Verdict.Signer, Verdict.TimeStamp});
    Result.UncheckedNested = Nested.Unchecked;
  }
  return Result;
}
}  // namespace

TVerifyResult VerifySignature(const std::string& Path, const std::string& ExtraTrustFile) {
  return VerifySignature(Path, ExtraTrustFile, [](const char*, const char* Source) { return std::string(Source); });
}

TVerifyResult VerifySignature(const std::string& Path, const std::string& ExtraTrustFile,
                              const TTextTranslator& Translate) {
  TVerifyResult Result{vsUnreadable, {}, {}, {}};
  try {
    Result = Verify(Path, ExtraTrustFile, Translate);
  } catch (const std::exception& Error) {
    // Out of memory, most likely; the file is not vouched for.
    Result = {vsUnreadable, Translate("VerifySignature", DISPLAYED_TEXT("VerifySignature", "验证时出错：")) + Error.what(),
              {}, {}};
  }
  // Failed checks leave reasons in this thread's error queue; the verdict already says it all.
  ERR_clear_error();
  return Result;
}
