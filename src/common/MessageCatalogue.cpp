#include "common/MessageCatalogue.h"

#include <cstdlib>
#include <iterator>

namespace {
// Rows for the texts the Qt-free routines return by their Chinese source have no name.
constexpr auto Marked = static_cast<TMessage>(0xFFFF);

struct TCatalogueRow {
  TMessage Message;
  std::string_view Chinese;
  std::string_view English;
};

// signtool.exe's messages first, in TMessage's order; the English ones say what Microsoft's
// signtool says where it has the same message. Then the texts the window shows from the Qt-free
// routines, with the English its translation gives them.
constexpr TCatalogueRow Catalogue[] = {
    {TMessage::MissingParameter, "缺少必需的参数。", "A required parameter is missing."},
    {TMessage::InvalidCommand, "无效的命令：%1", "Invalid command: %1"},
    {TMessage::InvalidOption, "无效的选项：%1", "Invalid option: %1"},
    {TMessage::MissingOptionValue, "选项后缺少参数：%1", "Missing parameter after option: %1"},
    {TMessage::InvalidDescriptor, "无效的文件描述符：%1", "Invalid file descriptor: %1"},
    {TMessage::InvalidParallel, "无效的同时处理文件数：%1", "Invalid number of files at once: %1"},
    {TMessage::InvalidDigest, "无效的摘要算法：%1", "Invalid digest algorithm: %1"},
    {TMessage::NoCertificateFound, "找不到符合所有给定条件的证书。",
     "No certificates were found that met all the given criteria."},
    {TMessage::SeveralCertificates, "有多个证书符合所有给定条件，请用 /sha1 选择其中一个。",
     "Several certificates were found that met all the given criteria; choose one with /sha1."},
    {TMessage::MissingFilename, "缺少文件名。", "Missing filename."},
    {TMessage::NoFileMatches, "没有与模式匹配的文件：%1", "No file matches the pattern: %1"},
    {TMessage::FileListUnreadable, "无法读取文件列表：%1", "The file list cannot be read: %1"},
    {TMessage::RemoveNeedsSignature, "remove 命令需要 /s：只能删除签名。",
     "The remove command needs /s: only signatures can be removed."},
    {TMessage::PasswordDescriptorUnreadable, "无法从描述符%1读取密码：%2",
     "The password could not be read from descriptor %1: %2"},
    {TMessage::PasswordTooLong, "从描述符读取的密码过长。", "The password read from the descriptor is too long."},
    {TMessage::PasswordVariableUnset, "环境变量%1未设置。", "The environment variable %1 is not set."},
    {TMessage::PfxNotRegular, "指定的PFX文件不是普通文件：%1", "The specified PFX file is not a regular file: %1"},
    {TMessage::CertificateFileNotRegular, "指定的证书文件不是普通文件：%1",
     "The specified certificate file is not a regular file: %1"},
    {TMessage::FileNotFound, "找不到文件：%1", "File not found: %1"},
    {TMessage::PfxUnopenable, "无法打开指定的PFX文件：%1", "The specified PFX file could not be opened: %1"},
    {TMessage::NotPfx, "指定的文件不是有效的PFX文件：%1", "The specified file is not a valid PFX file: %1"},
    {TMessage::WrongPfxPassword, "指定的PFX密码不正确。", "The specified PFX password is not correct."},
    {TMessage::ExtraCertificatesUnreadable, "无法读取附加证书：%1", "The additional certificates could not be read: %1"},
    {TMessage::ModuleNotLoaded, "无法加载PKCS#11模块：%1", "The PKCS#11 module could not be loaded: %1"},
    {TMessage::InvalidPkcs11Uri, "无效的PKCS#11 URI：%1", "Invalid PKCS#11 URI: %1"},
    {TMessage::CertificateFileUnreadable, "无法读取证书文件：%1", "The certificate file could not be read: %1"},
    {TMessage::TokenBusy, "令牌一直被其他进程占用，直到超过时限。",
     "The token was in use by another process until the time limit."},
    {TMessage::WrongPin, "无法访问智能卡，因为提供的PIN码不正确。",
     "The card cannot be accessed because the wrong PIN was presented."},
    {TMessage::PinLocked, "无法访问智能卡，因为PIN码的输入次数已达上限。",
     "The card cannot be accessed because the maximum number of PIN entry attempts has been reached."},
    {TMessage::DiskFull, "磁盘空间不足，无法签名：%1", "There is not enough space on the disk to sign: %1"},
    {TMessage::ReadDenied, "拒绝访问：无法读取文件：%1", "Access is denied: the file cannot be read: %1"},
    {TMessage::CannotOpen, "无法打开%1：%2", "Unable to open %1: %2"},
    {TMessage::Locked, "文件被其他进程锁定：%1", "The file is locked by another process: %1"},
    {TMessage::InUse, "文件正被其他进程写入：%1", "The file is being written by another process: %1"},
    {TMessage::WriteDenied, "拒绝访问：无法写入文件：%1", "Access is denied: the file cannot be written: %1"},
    {TMessage::ChangedMeanwhile, "文件在签名期间被其他进程修改，保留为该进程写入的内容：%1",
     "The file was changed by another process while it was being signed, and is left as that process wrote it: %1"},
    {TMessage::CannotReplace, "无法替换%1：%2", "Unable to replace %1: %2"},
    {TMessage::IsFolder, "指定的文件是文件夹：%1", "The specified file is a folder: %1"},
    {TMessage::NotRegularFile, "指定的文件不是普通文件：%1", "The specified file is not a regular file: %1"},
    {TMessage::NotSignable, "无法识别此文件格式，因此无法签名。",
     "This file format cannot be signed because it is not recognized."},
    {TMessage::NoSignatureIn, "找不到签名：%1", "No signature found: %1"},
    {TMessage::Signed, "签名成功：%1", "Successfully signed: %1"},
    {TMessage::SignedWithoutTimestamp, "签名成功，但加盖时间戳时出错：%1",
     "Signing succeeded, but an error occurred while attempting to timestamp: %1"},
    {TMessage::SignFailed, "签名时出错：%1", "An error occurred while attempting to sign: %1"},
    {TMessage::AlreadySigned, "已用此证书签名，保持原样：%1", "Already signed with this certificate, left as it is: %1"},
    {TMessage::ReportUnwritable, "无法将报告写入%1：%2", "The report could not be written to %1: %2"},
    {TMessage::SignedCount, "签名成功的文件数：%1", "Number of files successfully Signed: %1"},
    {TMessage::WarningCount, "警告数：%1", "Number of warnings: %1"},
    {TMessage::ErrorCount, "错误数：%1", "Number of errors: %1"},
    {TMessage::TimestampServerFailed, "时间戳服务器%1：%2", "Timestamp server %1: %2"},
    {TMessage::PaceFileUnusable, "无法使用时间戳节奏文件：%1", "The timestamp pace file cannot be used: %1"},
    {TMessage::Timestamped, "加盖时间戳成功：%1", "Successfully timestamped: %1"},
    {TMessage::AlreadyTimestamped, "文件已有时间戳，保持原样：%1",
     "The file is already timestamped and was left as it is: %1"},
    {TMessage::TimestampFailed, "加盖时间戳时出错：%1", "An error occurred while attempting to timestamp: %1"},
    {TMessage::TimestampedCount, "加盖时间戳成功的文件数：%1", "Number of files successfully timestamped: %1"},
    {TMessage::Unsigned, "找不到签名。", "No signature found."},
    {TMessage::DidNotVerify, "对象的数字签名未通过验证。", "The digital signature of the object did not verify."},
    {TMessage::Untrusted, "已处理证书链，但其根证书不受信任提供程序信任。",
     "A certificate chain processed, but terminated in a root certificate which is not trusted by the trust "
     "provider."},
    {TMessage::Expired, "按当前系统时钟或签名文件中的时间戳验证时，所需的证书不在有效期内。",
     "A required certificate is not within its validity period when verifying against the current system clock or "
     "the timestamp in the signed file."},
    {TMessage::NotVerifiable, "无法识别此文件格式，因此无法验证。",
     "This file format cannot be verified because it is not recognized."},
    {TMessage::Malformed, "无法读取文件，或其签名数据格式错误。",
     "The file cannot be read, or its signature data is malformed."},
    {TMessage::NotVerified, "无法验证签名。", "The signature could not be verified."},
    {TMessage::Verified, "验证成功：%1", "Successfully verified: %1"},
    {TMessage::ValidWithoutTimestamp, "签名有效，但没有时间戳，随证书到期而失效：%1",
     "The signature is valid, but it carries no timestamp and ends with the certificate: %1"},
    {TMessage::Verifying, "正在验证：%1", "Verifying: %1"},
    {TMessage::Signer, "签名者：%1", "Signer: %1"},
    {TMessage::Timestamp, "时间戳：%1", "Timestamp: %1"},
    {TMessage::NoTimestamp, "无", "none"},
    {TMessage::Verdict, "结论：%1", "Verdict: %1"},
    {TMessage::VerifiedCount, "验证成功的文件数：%1", "Number of files successfully Verified: %1"},
    {TMessage::Removed, "删除签名成功：%1", "Successfully removed the signature: %1"},
    {TMessage::RemoveFailed, "%1：%2", "%1: %2"},
    {TMessage::RemovedCount, "修改成功的文件数：%1", "Number of files successfully changed: %1"},
    {TMessage::InvalidThumbprint, "SHA1哈希格式无效：%1", "Invalid SHA1 hash format: %1"},
    {TMessage::TimestampOptionsClash, "/t 和 /tr 选项不能同时使用。", "The /t and /tr options are incompatible."},
    {TMessage::DigestNeedsRfc3161, "/td 选项需要 /tr 选项。", "The /td option requires the /tr option."},
    {TMessage::PasswordOptionsClash, "/p、/penv 和 /pfd 选项不能同时使用。",
     "The /p, /penv and /pfd options are incompatible."},
    {TMessage::KeyContainerClash, "/kc 选项不能与 /sha1 或 /n 同时使用。",
     "The /kc option cannot be combined with /sha1 or /n."},
    {TMessage::ModuleNeedsKey, "/csp 选项需要 /kc、/sha1 或 /n 选项。",
     "The /csp option requires the /kc, /sha1 or /n option."},
    {TMessage::FileWithSelection, "/f 选项不能与 /sha1 或 /n 同时使用。",
     "The /f option cannot be combined with /sha1 or /n."},
    {TMessage::TimestampServerRequired, "需要时间戳服务器：请使用 /t 或 /tr 选项。",
     "A timestamp server is required: use the /t or /tr option."},
    {TMessage::KeyNeedsTimestamp,
     "Azure Trusted Signing 的证书只有三天有效期，没有时间戳的签名会随证书一同失效：请用 /tr（或 /t）指定时间戳服务器。",
     "Azure Trusted Signing certificates are valid for three days only, and a signature without a timestamp stops "
     "being valid with its certificate: give a timestamp server with /tr (or /t)."},
    {TMessage::PrimarySignatureIndex, "签名索引：0（主签名）", "Signature Index: 0 (Primary Signature)"},
    {TMessage::SignatureIndex, "签名索引：%1", "Signature Index: %1"},
    {TMessage::InNestedSignature, "%1（嵌套签名%2）", "%1 (signature %2)"},
    {TMessage::NestedBeyondVerifying, "另有%1个嵌套签名超出可验证的数量。",
     "%1 nested signatures are beyond those that can be verified."},

    {Marked, "打开文件失败", "Cannot open the file"},
    {Marked, "创建映射失败", "Cannot map the file"},
    {Marked, "读取映射失败", "Cannot read the mapped file"},
    {Marked, "无法识别格式", "Unknown file format"},
    {Marked, "非法的PE文件", "Invalid PE file"},
    {Marked, "文件没有签名", "The file is not signed"},
    {Marked, "修改签名失败", "Cannot remove the signature"},
    {Marked, "文件正被其他程序写入", "The file is being written by another program"},
    {Marked, "签名数据已损坏", "The signature data is damaged"},
    {Marked, "签名中缺少签名者的证书", "The signature lacks the signer's certificate"},
    {Marked, "文件在签名后被修改", "The file was changed after it was signed"},
    {Marked, "签名与签名内容不符，签名已被篡改", "The signature does not match what it signs; it was tampered with"},
    {Marked, "签名证书链不受信任", "The signing certificate's chain is not trusted"},
    {Marked, "时间戳时间不在签名证书有效期内", "The timestamp lies outside the signing certificate's validity"},
    {Marked, "签名证书已过期，且没有有效的时间戳",
     "The signing certificate has expired and no valid timestamp vouches for the signature"},
    {Marked, "签名证书不能用于代码签名", "The signing certificate is not meant for code signing"},
    {Marked, "签名有效，但时间戳无效", "The signature is valid, but its timestamp is not"},
    {Marked, "签名有效，但没有时间戳", "The signature is valid, but has no timestamp"},
    {Marked, "签名有效，但时间戳的颁发者不受信任", "Signature valid, but the timestamp's issuer is not trusted"},
    {Marked, "签名有效", "The signature is valid"},
    {Marked, "有效", "valid"},
    {Marked, "有效但没有有效的时间戳", "valid, without a valid timestamp"},
    {Marked, "已被篡改", "tampered with"},
    {Marked, "不受信任", "not trusted"},
    {Marked, "已过期", "expired"},
    {Marked, "无法读取", "unreadable"},
    {Marked, "；嵌套签名", "; nested signature "},
    {Marked, "：", ": "},
    {Marked, "（", " ("},
    {Marked, "）", ") "},
    {Marked, "；另有", "; "},
    {Marked, "个嵌套签名未验证", " more nested signatures not verified"},
    {Marked, "无法打开文件", "Cannot open the file"},
    {Marked, "文件为空", "The file is empty"},
    {Marked, "无法读取文件", "Cannot read the file"},
    {Marked, "不是程序文件或CAB文件，无法验证签名", "Neither a program file nor a cabinet; its signature cannot be verified"},
    {Marked, "无法建立受信任证书列表", "Cannot set up the trusted certificates"},
    {Marked, "，时间戳 ", ", timestamp "},
    {Marked, "（无法读取附加的受信任证书文件）", " (the extra trusted certificates file cannot be read)"},
    {Marked, "使用了不安全的摘要算法 MD5", "Uses the insecure digest algorithm MD5"},
    {Marked, "签名证书链中的颁发机构不能用于代码签名",
     "A certificate authority in the signer's chain may not be used for code signing"},
    {Marked, "签名数据超出了文件末尾", "The signature data reaches past the end of the file"},
    {Marked, "签名数据过大（超过64 MB）", "The signature data is too large (over 64 MB)"},
    {Marked, "证书表的条目不是Authenticode签名", "The certificate table entry is not an Authenticode signature"},
    {Marked, "签名之后还有未签名的数据", "Unsigned data follows the signature"},
    {Marked, "证书表位于程序数据之间", "The certificate table lies among the program's data"},
    {Marked, "证书表没有按8字节对齐", "The certificate table is not aligned to 8 bytes"},
    {Marked, "签名中夹带了未签名的数据", "The signature carries unsigned data"},
    {Marked, "文件头不再指向文件中的签名，文件在签名后被修改",
     "The headers no longer point at the signature in the file: the file was changed after signing"},
    {Marked, "CAB文件头不完整", "The cabinet header is incomplete"},
    {Marked, "（摘要算法SHA-1已不够安全，Windows仍然接受）",
     " (the SHA-1 digest algorithm is no longer secure; Windows still accepts it)"},
    {Marked, "验证时出错：", "Verification failed with an error: "},
    {Marked, "%1不接受访问令牌或凭据（401），令牌可能有误或已过期",
     "%1 did not accept the access token or credentials (401); the token may be wrong or expired"},
    {Marked, "%1拒绝访问该密钥（403），该账户缺少签名所需的角色",
     "%1 refused access to the key (403); the account lacks the role that allows signing"},
    {Marked, "%1中找不到该密钥或证书（404），请检查地址",
     "%1 does not know this key or certificate (404); check the address"},
    {Marked, "%1要求放慢请求（429），等待超出了剩余时间",
     "%1 asked to slow down (429) for longer than the time left"},
    {Marked, "%1的配额已用尽（429）",
     "The quota of %1 is used up (429)"},
    {Marked, "%1拒绝了请求",
     "%1 refused the request"},
    {Marked, "无法连接%1",
     "%1 could not be reached"},
    {Marked, "%1的回答无法读取",
     "The answer of %1 cannot be read"},
    {Marked, "%1未能及时回答",
     "%1 did not answer in time"},
    {Marked, "等待%1时被中断",
     "Interrupted while waiting for %1"},
    {Marked, "找不到%1的凭据：请在密码框中填写访问令牌，或设置环境变量，或登录其命令行工具",
     "No credentials for %1 were found: enter an access token in the password box, set the environment variable, or sign in with its command-line tool"},
    {Marked, "%1的密钥与证书不符或证书无法读取",
     "The key in %1 does not go with the certificate, or the certificate cannot be read"},
    {Marked, "%1的密钥不能用于Authenticode签名",
     "The key in %1 cannot make Authenticode signatures"},
};

constexpr bool NamedRowsInOrder() {
  const auto Count = static_cast<std::size_t>(TMessage::NestedBeyondVerifying) + 1;
  if (std::size(Catalogue) < Count) return false;
  for (std::size_t Index = 0; Index < std::size(Catalogue); ++Index)
    if ((Index < Count) != (Catalogue[Index].Message != Marked) ||
        (Index < Count && static_cast<std::size_t>(Catalogue[Index].Message) != Index))
      return false;
  return true;
}
static_assert(NamedRowsInOrder(), "the named messages lead the catalogue, in TMessage's order");

std::string_view In(const TCatalogueRow& Row, TMessageLanguage Language) {
  return Language == TMessageLanguage::Chinese ? Row.Chinese : Row.English;
}

const char* Variable(const char* Name) {
  const char* Value = std::getenv(Name);
  return Value != nullptr && *Value != '\0' ? Value : nullptr;
}
}  // namespace

std::string_view LanguageVariableValue(TMessageLanguage Language) {
  return Language == TMessageLanguage::Chinese ? "zh_CN" : "en";
}

TMessageLanguage LanguageOfLocaleName(std::string_view Name) {
  const bool Chinese = Name.size() >= 2 && (Name[0] == 'z' || Name[0] == 'Z') && (Name[1] == 'h' || Name[1] == 'H') &&
                       (Name.size() == 2 || Name[2] == '_' || Name[2] == '-' || Name[2] == '.' || Name[2] == '@');
  return Chinese ? TMessageLanguage::Chinese : TMessageLanguage::English;
}

TMessageLanguage LanguageOfEnvironment() {
  for (const char* Name : {LanguageVariable, "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
    if (const char* Value = Variable(Name)) {
      const std::string_view Locale(Value);
      return LanguageOfLocaleName(Locale.substr(0, Locale.find(':')));
    }
  return TMessageLanguage::English;
}

std::string MessageText(TMessage Message, TMessageLanguage Language, std::initializer_list<std::string_view> Arguments) {
  const std::string_view Text = In(Catalogue[static_cast<std::size_t>(Message)], Language);
  std::string Result;
  for (std::size_t Place = 0; Place < Text.size(); ++Place) {
    const bool Placeholder = Text[Place] == '%' && Place + 1 < Text.size() && Text[Place + 1] >= '1' &&
                             Text[Place + 1] <= '9' && static_cast<std::size_t>(Text[Place + 1] - '1') < Arguments.size();
    if (!Placeholder) {
      Result += Text[Place];
      continue;
    }
    Result += *(Arguments.begin() + (Text[Place + 1] - '1'));
    ++Place;
  }
  return Result;
}

std::string MarkedTextIn(TMessageLanguage Language, std::string_view Chinese) {
  if (Language == TMessageLanguage::English)
    for (const TCatalogueRow& Row : Catalogue)
      if (Row.Message == Marked && Row.Chinese == Chinese) return std::string(Row.English);
  return std::string(Chinese);
}
