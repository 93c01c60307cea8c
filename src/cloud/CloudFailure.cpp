#include "cloud/CloudFailure.h"

#include "common/DisplayedText.h"

std::string_view CloudFailureMeaning(TCloudFailure::TKind Kind) {
  using TKind = TCloudFailure::TKind;
  switch (Kind) {
    case TKind::None: break;
    case TKind::Unauthorized: return DISPLAYED_TEXT("CloudFailure", "%1不接受访问令牌或凭据（401），令牌可能有误或已过期");
    case TKind::Forbidden: return DISPLAYED_TEXT("CloudFailure", "%1拒绝访问该密钥（403），该账户缺少签名所需的角色");
    case TKind::NotFound: return DISPLAYED_TEXT("CloudFailure", "%1中找不到该密钥或证书（404），请检查地址");
    case TKind::Throttled: return DISPLAYED_TEXT("CloudFailure", "%1要求放慢请求（429），等待超出了剩余时间");
    case TKind::Quota: return DISPLAYED_TEXT("CloudFailure", "%1的配额已用尽（429）");
    case TKind::Refused: return DISPLAYED_TEXT("CloudFailure", "%1拒绝了请求");
    case TKind::Unreachable: return DISPLAYED_TEXT("CloudFailure", "无法连接%1");
    case TKind::Malformed: return DISPLAYED_TEXT("CloudFailure", "%1的回答无法读取");
    case TKind::TimedOut: return DISPLAYED_TEXT("CloudFailure", "%1未能及时回答");
    case TKind::Interrupted: return DISPLAYED_TEXT("CloudFailure", "等待%1时被中断");
    case TKind::NoCredentials: return DISPLAYED_TEXT("CloudFailure", "找不到%1的凭据：请在密码框中填写访问令牌，或设置环境变量，或登录其命令行工具");
    case TKind::Certificate: return DISPLAYED_TEXT("CloudFailure", "%1的密钥与证书不符或证书无法读取");
    case TKind::Unsupported: return DISPLAYED_TEXT("CloudFailure", "%1的密钥不能用于Authenticode签名");
  }
  return {};
}

std::string DescribeCloudFailure(const TCloudFailure& Failure, std::string_view Service, TMessageLanguage Language) {
  const std::string Meaning = MarkedTextIn(Language, CloudFailureMeaning(Failure.Kind));
  std::string Text;
  for (std::size_t Place = 0; Place < Meaning.size(); ++Place) {
    if (Meaning.compare(Place, 2, "%1") == 0) {
      Text += Service;
      ++Place;
    } else {
      Text += Meaning[Place];
    }
  }
  if (!Failure.Detail.empty()) Text += MarkedTextIn(Language, "：") + Failure.Detail;
  return Text;
}
