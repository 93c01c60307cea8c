<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>BatchProgressText</name>
    <message>
        <source>已完成 %1/%2</source>
        <translation>Done %1 of %2</translation>
    </message>
    <message>
        <source>，剩余约 %1 秒</source>
        <translation>, about %1 s left</translation>
    </message>
    <message>
        <source>，剩余约 %1 分 %2 秒</source>
        <translation>, about %1 min %2 s left</translation>
    </message>
</context>
<context>
    <name>CloudFailure</name>
    <message>
        <source>%1不接受访问令牌或凭据（401），令牌可能有误或已过期</source>
        <translation>%1 did not accept the access token or credentials (401); the token may be wrong or expired</translation>
    </message>
    <message>
        <source>%1拒绝访问该密钥（403），该账户缺少签名所需的角色</source>
        <translation>%1 refused access to the key (403); the account lacks the role that allows signing</translation>
    </message>
    <message>
        <source>%1中找不到该密钥或证书（404），请检查地址</source>
        <translation>%1 does not know this key or certificate (404); check the address</translation>
    </message>
    <message>
        <source>%1要求放慢请求（429），等待超出了剩余时间</source>
        <translation>%1 asked to slow down (429) for longer than the time left</translation>
    </message>
    <message>
        <source>%1的配额已用尽（429）</source>
        <translation>The quota of %1 is used up (429)</translation>
    </message>
    <message>
        <source>%1拒绝了请求</source>
        <translation>%1 refused the request</translation>
    </message>
    <message>
        <source>无法连接%1</source>
        <translation>%1 could not be reached</translation>
    </message>
    <message>
        <source>%1的回答无法读取</source>
        <translation>The answer of %1 cannot be read</translation>
    </message>
    <message>
        <source>%1未能及时回答</source>
        <translation>%1 did not answer in time</translation>
    </message>
    <message>
        <source>等待%1时被中断</source>
        <translation>Interrupted while waiting for %1</translation>
    </message>
    <message>
        <source>找不到%1的凭据：请在密码框中填写访问令牌，或设置环境变量，或登录其命令行工具</source>
        <translation>No credentials for %1 were found: enter an access token in the password box, set the environment variable, or sign in with its command-line tool</translation>
    </message>
    <message>
        <source>%1的密钥与证书不符或证书无法读取</source>
        <translation>The key in %1 does not go with the certificate, or the certificate cannot be read</translation>
    </message>
    <message>
        <source>%1的密钥不能用于Authenticode签名</source>
        <translation>The key in %1 cannot make Authenticode signatures</translation>
    </message>
</context>
<context>
    <name>DoUpdate</name>
    <message>
        <source>发现新版本 %1（当前版本 %2）。</source>
        <translation>A new version, %1, is available (this is version %2).</translation>
    </message>
    <message>
        <source>是否打开下载页面？</source>
        <translation>Open the download page?</translation>
    </message>
</context>
<context>
    <name>InfoOptions</name>
    <message>
        <source>用法：quillory [选项]
批量为 Windows 程序文件（.exe .dll .sys .cab）签名或删除签名。

选项：
  -h, --help     显示此帮助并退出
  -v, --version  显示版本并退出
</source>
        <translation>Usage: quillory [options]
Signs Windows program files (.exe .dll .sys .cab) in batches, or removes their signatures.

Options:
  -h, --help     show this help and exit
  -v, --version  show the version and exit
</translation>
    </message>
</context>
<context>
    <name>ShowPrompt</name>
    <message>
        <source>提示</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>询问</source>
        <translation>Question</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
</context>
<context>
    <name>SignCommand</name>
    <message>
        <source>找不到文件：%1</source>
        <translation>File not found: %1</translation>
    </message>
</context>
<context>
    <name>StripSignature</name>
    <message>
        <source>打开文件失败</source>
        <translation>Cannot open the file</translation>
    </message>
    <message>
        <source>创建映射失败</source>
        <translation>Cannot map the file</translation>
    </message>
    <message>
        <source>读取映射失败</source>
        <translation>Cannot read the mapped file</translation>
    </message>
    <message>
        <source>无法识别格式</source>
        <translation>Unknown file format</translation>
    </message>
    <message>
        <source>非法的PE文件</source>
        <translation>Invalid PE file</translation>
    </message>
    <message>
        <source>文件没有签名</source>
        <translation>The file is not signed</translation>
    </message>
    <message>
        <source>修改签名失败</source>
        <translation>Cannot remove the signature</translation>
    </message>
    <message>
        <source>文件正被其他程序写入</source>
        <translation>The file is being written by another program</translation>
    </message>
</context>
<context>
    <name>TFileListModel</name>
    <message>
        <source>文件路径</source>
        <translation>File</translation>
    </message>
    <message>
        <source>操作信息</source>
        <translation>Message</translation>
    </message>
</context>
<context>
    <name>TFrmCloudKey</name>
    <message>
        <source>密钥服务中的密钥</source>
        <translation>Key in a key service</translation>
    </message>
    <message>
        <source>项目：</source>
        <translation>Project:</translation>
    </message>
    <message>
        <source>位置：</source>
        <translation>Location:</translation>
    </message>
    <message>
        <source>密钥环：</source>
        <translation>Key ring:</translation>
    </message>
    <message>
        <source>密钥：</source>
        <translation>Key:</translation>
    </message>
    <message>
        <source>密钥版本：</source>
        <translation>Key version:</translation>
    </message>
    <message>
        <source>浏览(&amp;B)...</source>
        <translation>&amp;Browse...</translation>
    </message>
    <message>
        <source>证书文件（PEM或DER）：</source>
        <translation>Certificate file (PEM or DER):</translation>
    </message>
    <message>
        <source>签名账户需要该密钥上的“Cloud KMS CryptoKey Signer/Verifier”角色。访问令牌可填在密码框中，或由 GOOGLE_OAUTH_ACCESS_TOKEN 或已登录的 gcloud 提供。</source>
        <translation>The signing account needs the role &quot;Cloud KMS CryptoKey Signer/Verifier&quot; on the key. The access token goes in the password box, or comes from GOOGLE_OAUTH_ACCESS_TOKEN or a signed-in gcloud.</translation>
    </message>
    <message>
        <source>密钥保管库：</source>
        <translation>Key vault:</translation>
    </message>
    <message>
        <source>证书名称：</source>
        <translation>Certificate name:</translation>
    </message>
    <message>
        <source>证书版本（可不填）：</source>
        <translation>Certificate version (optional):</translation>
    </message>
    <message>
        <source>证书及其证书链从保管库读取，签名由保管库中的密钥完成。签名账户需要“Key Vault Crypto User”和“Key Vault Certificate User”角色。访问令牌可填在密码框中，或由 AZURE_ACCESS_TOKEN、AZURE_TENANT_ID/AZURE_CLIENT_ID/AZURE_CLIENT_SECRET 或已登录的 az 提供。</source>
        <translation>The certificate and its chain are read from the vault, and the vault&apos;s key signs. The signing account needs the roles &quot;Key Vault Crypto User&quot; and &quot;Key Vault Certificate User&quot;. The access token goes in the password box, or comes from AZURE_ACCESS_TOKEN, AZURE_TENANT_ID/AZURE_CLIENT_ID/AZURE_CLIENT_SECRET or a signed-in az.</translation>
    </message>
    <message>
        <source>证书文件 (*.pem *.crt *.cer *.der);;所有文件 (*)</source>
        <translation>Certificate files (*.pem *.crt *.cer *.der);;All files (*)</translation>
    </message>
    <message>
        <source>区域：</source>
        <translation>Region:</translation>
    </message>
    <message>
        <source>密钥（ID、别名或ARN）：</source>
        <translation>Key (ID, alias or ARN):</translation>
    </message>
    <message>
        <source>密钥用途须为“签名和验证”（SIGN_VERIFY），签名身份需要该密钥上的 kms:Sign 和 kms:GetPublicKey 权限。凭据取自 AWS_ACCESS_KEY_ID/AWS_SECRET_ACCESS_KEY（及 AWS_SESSION_TOKEN）或 ~/.aws/credentials 中的配置文件，密码框留空。</source>
        <translation>The key usage must be &quot;Sign and verify&quot; (SIGN_VERIFY), and the signing identity needs kms:Sign and kms:GetPublicKey on the key. The credentials come from AWS_ACCESS_KEY_ID/AWS_SECRET_ACCESS_KEY (and AWS_SESSION_TOKEN) or a profile in ~/.aws/credentials; leave the password box empty.</translation>
    </message>
    <message>
        <source>账户终结点：</source>
        <translation>Account endpoint:</translation>
    </message>
    <message>
        <source>账户名称：</source>
        <translation>Account name:</translation>
    </message>
    <message>
        <source>证书配置文件：</source>
        <translation>Certificate profile:</translation>
    </message>
    <message>
        <source>签名身份需要证书配置文件上的“Trusted Signing Certificate Profile Signer”角色。证书只有三天有效期，因此必须填写时间戳服务器。访问令牌可填在密码框中，或由 AZURE_ACCESS_TOKEN、AZURE_TENANT_ID/AZURE_CLIENT_ID/AZURE_CLIENT_SECRET 或已登录的 az 提供。</source>
        <translation>The signing identity needs the role &quot;Trusted Signing Certificate Profile Signer&quot; on the certificate profile. Its certificates are valid for three days, so a timestamp server is required. The access token may be typed in the password box, or come from AZURE_ACCESS_TOKEN, AZURE_TENANT_ID/AZURE_CLIENT_ID/AZURE_CLIENT_SECRET or a signed-in az.</translation>
    </message>
</context>
<context>
    <name>TFrmFileProperties</name>
    <message>
        <source>不可用</source>
        <translation>Not available</translation>
    </message>
    <message>
        <source>yyyy年M月d日 HH:mm:ss</source>
        <translation>MMMM d, yyyy HH:mm:ss</translation>
    </message>
    <message>
        <source>文件夹</source>
        <translation>Folder</translation>
    </message>
    <message>
        <source>无法读取</source>
        <translation>Unreadable</translation>
    </message>
    <message>
        <source>64 位程序</source>
        <translation>64-bit program</translation>
    </message>
    <message>
        <source>32 位程序</source>
        <translation>32-bit program</translation>
    </message>
    <message>
        <source>不是程序</source>
        <translation>Not a program</translation>
    </message>
    <message>
        <source>%1 属性</source>
        <translation>%1 Properties</translation>
    </message>
    <message>
        <source>找不到文件“%1”。请确定该文件没有被移动、重命名或删除。</source>
        <translation>Cannot find the file &quot;%1&quot;. Make sure it has not been moved, renamed or deleted.</translation>
    </message>
    <message>
        <source>常规</source>
        <translation>General</translation>
    </message>
    <message>
        <source>无法读取此文件。</source>
        <translation>This file cannot be read.</translation>
    </message>
    <message>
        <source>数字签名</source>
        <translation>Digital Signatures</translation>
    </message>
    <message>
        <source>%1 字节</source>
        <translation>%1 bytes</translation>
    </message>
    <message>
        <source>名称：</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>类型：</source>
        <translation>Type:</translation>
    </message>
    <message>
        <source>位置：</source>
        <translation>Location:</translation>
    </message>
    <message>
        <source>大小：</source>
        <translation>Size:</translation>
    </message>
    <message>
        <source>修改时间：</source>
        <translation>Modified:</translation>
    </message>
    <message>
        <source>此文件的数字签名已损坏，无法读取。</source>
        <translation>The digital signature of this file is damaged and cannot be read.</translation>
    </message>
    <message>
        <source>此文件没有数字签名。</source>
        <translation>This file has no digital signature.</translation>
    </message>
    <message>
        <source>签名列表：</source>
        <translation>Signature list:</translation>
    </message>
    <message>
        <source>签名人姓名</source>
        <translation>Name of signer</translation>
    </message>
    <message>
        <source>摘要算法</source>
        <translation>Digest algorithm</translation>
    </message>
    <message>
        <source>时间戳</source>
        <translation>Timestamp</translation>
    </message>
    <message>
        <source>签名详细信息</source>
        <translation>Signature details</translation>
    </message>
    <message>
        <source>签名人：</source>
        <translation>Signer:</translation>
    </message>
    <message>
        <source>颁发者：</source>
        <translation>Issuer:</translation>
    </message>
    <message>
        <source>序列号：</source>
        <translation>Serial number:</translation>
    </message>
    <message>
        <source>有效期从：</source>
        <translation>Valid from:</translation>
    </message>
    <message>
        <source>有效期到：</source>
        <translation>Valid to:</translation>
    </message>
    <message>
        <source>摘要算法：</source>
        <translation>Digest algorithm:</translation>
    </message>
    <message>
        <source>时间戳：</source>
        <translation>Timestamp:</translation>
    </message>
    <message>
        <source>仅列出前 %1 个签名，另有 %2 个签名未列出。</source>
        <translation>Only the first %1 signatures are listed; %2 more are not shown.</translation>
    </message>
    <message>
        <source>CAB 压缩文件</source>
        <translation>Cabinet file</translation>
    </message>
    <message>
        <source>验证结果：%1</source>
        <translation>Verification: %1</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>TFrmMain</name>
    <message>
        <source>开始签名(&amp;S)</source>
        <translation>&amp;Sign</translation>
    </message>
    <message>
        <source>签名信息设置</source>
        <translation>Signing settings</translation>
    </message>
    <message>
        <source> 待签名文件列表（可直接把文件拖动列表中；双击可查看文件属性） </source>
        <translation> Files to sign (drop files on the list; double-click a file for its properties) </translation>
    </message>
    <message>
        <source>删除签名(&amp;D)</source>
        <translation>&amp;Del. signatures</translation>
    </message>
    <message>
        <source>退出程序(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>访问官网(&amp;W)</source>
        <translation>&amp;Website</translation>
    </message>
    <message>
        <source>证书文件：</source>
        <translation>Certificate:</translation>
    </message>
    <message>
        <source>签名密码：</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>时间戳：</source>
        <translation>Timestamp:</translation>
    </message>
    <message>
        <source>签名描述：</source>
        <translation>Description:</translation>
    </message>
    <message>
        <source>软件网址：</source>
        <translation>Product URL:</translation>
    </message>
    <message>
        <source>删除选中(&amp;D)</source>
        <translation>&amp;Delete selected</translation>
    </message>
    <message>
        <source>全部选中(&amp;A)</source>
        <translation>Select &amp;all</translation>
    </message>
    <message>
        <source>全部不选(&amp;C)</source>
        <translation>&amp;Clear selection</translation>
    </message>
    <message>
        <source>反向选择(&amp;U)</source>
        <translation>&amp;Invert selection</translation>
    </message>
    <message>
        <source>证书文件(*.pfx)</source>
        <translation>Certificate files (*.pfx)</translation>
    </message>
    <message>
        <source>&lt;清空记录&gt;</source>
        <translation>&lt;Clear history&gt;</translation>
    </message>
    <message>
        <source>你确定要清除历史记录吗?</source>
        <translation>Are you sure you want to clear the history?</translation>
    </message>
    <message>
        <source>证书文件不能为空</source>
        <translation>The certificate file cannot be empty</translation>
    </message>
    <message>
        <source>证书文件不存在</source>
        <translation>The certificate file does not exist</translation>
    </message>
    <message>
        <source>签名密码不能为空</source>
        <translation>The password cannot be empty</translation>
    </message>
    <message>
        <source>时间戳不能为空</source>
        <translation>The timestamp server cannot be empty</translation>
    </message>
    <message>
        <source>验证签名(&amp;V)</source>
        <translation>&amp;Verify signatures</translation>
    </message>
    <message>
        <source>选择PFX证书文件(&amp;F)...</source>
        <translation>Choose a PFX certificate &amp;file...</translation>
    </message>
    <message>
        <source>选择令牌或智能卡中的证书(&amp;T)...</source>
        <translation>Choose a certificate on a &amp;token or smart card...</translation>
    </message>
    <message>
        <source>在已连接的令牌或智能卡上找不到该证书</source>
        <translation>The certificate was not found on any connected token or smart card</translation>
    </message>
    <message>
        <source>选项(&amp;O)...</source>
        <translation>&amp;Options...</translation>
    </message>
    <message>
        <source>停止(&amp;S)</source>
        <translation>&amp;Stop</translation>
    </message>
    <message>
        <source>正在停止...</source>
        <translation>Stopping...</translation>
    </message>
    <message>
        <source>（正在停止，等待进行中的文件完成）</source>
        <translation> (stopping: waiting for the files under way)</translation>
    </message>
    <message>
        <source>正在签名，确定要停止并退出吗？</source>
        <translation>Signing is under way. Stop and exit?</translation>
    </message>
    <message>
        <source>正在处理列表中的文件，确定要停止并退出吗？</source>
        <translation>The listed files are being processed. Stop and exit?</translation>
    </message>
    <message>
        <source>添加文件(&amp;L)...</source>
        <translation>Add fi&amp;les...</translation>
    </message>
    <message>
        <source>添加文件夹(&amp;F)...</source>
        <translation>Add &amp;folder...</translation>
    </message>
    <message>
        <source>程序文件(*.exe *.dll *.sys *.cab *.lnk);;所有文件(*)</source>
        <translation>Program files (*.exe *.dll *.sys *.cab *.lnk);;All files (*)</translation>
    </message>
    <message>
        <source>没有找到可以打开网页的浏览器：%1</source>
        <translation>No web browser was found to open %1</translation>
    </message>
    <message>
        <source>令牌PIN：</source>
        <translation>Token PIN:</translation>
    </message>
    <message>
        <source>重新加盖时间戳(&amp;T)</source>
        <translation>Add &amp;timestamp again</translation>
    </message>
    <message>
        <source>访问令牌：</source>
        <translation>Access token:</translation>
    </message>
    <message>
        <source>密钥地址的格式不对：%1</source>
        <translation>The key address is not in the right form: %1</translation>
    </message>
    <message>
        <source>指定密钥服务中的密钥(&amp;K)...</source>
        <translation>Key in a &amp;key service...</translation>
    </message>
    <message>
        <source>选择证书文件；点击箭头可选择令牌或智能卡中的证书，或密钥服务中的密钥</source>
        <translation>Choose a certificate file; the arrow offers a certificate on a token or smart card, or a key in a key service</translation>
    </message>
    <message>
        <source>导出报告(&amp;E)...</source>
        <translation>&amp;Export report...</translation>
    </message>
    <message>
        <source>JSON报告 (*.json)</source>
        <translation>JSON report (*.json)</translation>
    </message>
    <message>
        <source>无法写入报告%1：%2</source>
        <translation>Cannot write the report %1: %2</translation>
    </message>
</context>
<context>
    <name>TFrmOptions</name>
    <message>
        <source>选项</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>同时签名的文件数(&amp;N)：</source>
        <translation>&amp;Files signed at once:</translation>
    </message>
    <message>
        <source>每个文件都要向时间戳服务器单独请求一次。同时签名多个文件会更快，但公共时间戳服务器可能限制请求频率；被拒绝的请求会稍候重试。</source>
        <translation>Every file needs its own request to the timestamp server. Signing several files at once is faster, but public timestamp servers may limit how often they answer; refused requests are tried again a little later.</translation>
    </message>
    <message>
        <source>浏览(&amp;B)...</source>
        <translation>&amp;Browse...</translation>
    </message>
    <message>
        <source>PEM 证书(*.pem *.crt *.cer);;所有文件(*)</source>
        <translation>PEM certificates (*.pem *.crt *.cer);;All files (*)</translation>
    </message>
    <message>
        <source>验证签名时另外信任的证书(&amp;T)：</source>
        <translation>Further &amp;trusted certificates for verifying:</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation>System default</translation>
    </message>
    <message>
        <source>界面语言(&amp;L)：</source>
        <translation>&amp;Language:</translation>
    </message>
    <message>
        <source>界面语言在下次启动时生效。</source>
        <translation>The language changes at the next start.</translation>
    </message>
    <message>
        <source>证书文件或文件夹，多个之间用“;”分隔</source>
        <translation>Certificate files or folders, separated by &quot;;&quot;</translation>
    </message>
    <message>
        <source>旧式（/t）</source>
        <translation>Older Authenticode (/t)</translation>
    </message>
    <message>
        <source>RFC 3161（/tr，SHA-256）</source>
        <translation>RFC 3161 (/tr, SHA-256)</translation>
    </message>
    <message>
        <source>时间戳协议(&amp;P)：</source>
        <translation>Timestamp &amp;protocol:</translation>
    </message>
</context>
<context>
    <name>TFrmTokenCertificates</name>
    <message>
        <source>有</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>无</source>
        <translation>No</translation>
    </message>
    <message>
        <source>输入PIN后可见</source>
        <translation>Visible after PIN entry</translation>
    </message>
    <message>
        <source>选择令牌中的证书</source>
        <translation>Choose a certificate on a token</translation>
    </message>
    <message>
        <source>无法加载PKCS#11模块：%1</source>
        <translation>The PKCS#11 module could not be loaded: %1</translation>
    </message>
    <message>
        <source>已连接的令牌上没有证书。请插入令牌或智能卡后重新打开。</source>
        <translation>No connected token holds a certificate. Insert the token or smart card and open this again.</translation>
    </message>
    <message>
        <source>令牌</source>
        <translation>Token</translation>
    </message>
    <message>
        <source>使用者</source>
        <translation>Subject</translation>
    </message>
    <message>
        <source>颁发者</source>
        <translation>Issuer</translation>
    </message>
    <message>
        <source>有效期至</source>
        <translation>Valid until</translation>
    </message>
    <message>
        <source>SHA-1 指纹</source>
        <translation>SHA-1 thumbprint</translation>
    </message>
    <message>
        <source>私钥</source>
        <translation>Private key</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
</context>
<context>
    <name>TKeySession</name>
    <message>
        <source>无法打开签名密钥：%1</source>
        <translation>The signing key cannot be opened: %1</translation>
    </message>
    <message>
        <source>证书密码不正确</source>
        <translation>The certificate password is incorrect</translation>
    </message>
    <message>
        <source>无法读取证书文件</source>
        <translation>The certificate file cannot be read</translation>
    </message>
    <message>
        <source>证书文件不是PFX文件，或其中没有私钥和证书</source>
        <translation>The certificate file is not a PFX file, or holds no private key with its certificate</translation>
    </message>
    <message>
        <source>在已连接的令牌或智能卡上找不到该证书</source>
        <translation>The certificate was not found on any connected token or smart card</translation>
    </message>
    <message>
        <source>令牌PIN不正确</source>
        <translation>The token PIN is incorrect</translation>
    </message>
    <message>
        <source>令牌PIN已被锁定，请用令牌的管理工具解锁</source>
        <translation>The token PIN is locked; unlock it with the token&apos;s management tool</translation>
    </message>
    <message>
        <source>无法开始签名会话：%1</source>
        <translation>The signing session cannot be started: %1</translation>
    </message>
</context>
<context>
    <name>TRemoveBatch</name>
    <message>
        <source>共有%1个操作文件，删除成功%2个；失败%3个</source>
        <translation>Files processed: %1; signatures removed: %2; failed: %3</translation>
    </message>
</context>
<context>
    <name>TRestampBatch</name>
    <message>
        <source>共有%1个操作文件，加盖时间戳成功%2个；失败%3个</source>
        <translation>Files processed: %1; timestamps added: %2; failed: %3</translation>
    </message>
</context>
<context>
    <name>TSignBatch</name>
    <message>
        <source>令牌的PIN码已被锁定，本批不再用该密钥签名文件</source>
        <translation>The token&apos;s PIN is locked: this batch signs no further file with its key</translation>
    </message>
    <message>
        <source>令牌拒绝了PIN码，本批不再用该密钥签名文件</source>
        <translation>The token refused the PIN: this batch signs no further file with its key</translation>
    </message>
    <message>
        <source>共有%1个操作文件，签名成功%2个；失败%3个</source>
        <translation>Files processed: %1; signed: %2; failed: %3</translation>
    </message>
    <message>
        <source>其中%1个文件签名时出现警告（没有时间戳），请查看列表中的提示。</source>
        <translation>%1 of them were signed with a warning (no timestamp); see the messages in the list.</translation>
    </message>
</context>
<context>
    <name>TVerifyBatch</name>
    <message>
        <source>共有%1个操作文件，验证成功%2个；失败%3个</source>
        <translation>%1 file(s) processed, %2 verified, %3 failed</translation>
    </message>
    <message>
        <source>验证时出错</source>
        <translation>Verification failed with an error</translation>
    </message>
</context>
<context>
    <name>VerifySignature</name>
    <message>
        <source>签名数据已损坏</source>
        <translation>The signature data is damaged</translation>
    </message>
    <message>
        <source>签名中缺少签名者的证书</source>
        <translation>The signature lacks the signer&apos;s certificate</translation>
    </message>
    <message>
        <source>文件在签名后被修改</source>
        <translation>The file was changed after it was signed</translation>
    </message>
    <message>
        <source>签名与签名内容不符，签名已被篡改</source>
        <translation>The signature does not match what it signs; it was tampered with</translation>
    </message>
    <message>
        <source>签名证书链不受信任</source>
        <translation>The signing certificate&apos;s chain is not trusted</translation>
    </message>
    <message>
        <source>时间戳时间不在签名证书有效期内</source>
        <translation>The timestamp lies outside the signing certificate&apos;s validity</translation>
    </message>
    <message>
        <source>签名证书已过期，且没有有效的时间戳</source>
        <translation>The signing certificate has expired and no valid timestamp vouches for the signature</translation>
    </message>
    <message>
        <source>签名证书不能用于代码签名</source>
        <translation>The signing certificate is not meant for code signing</translation>
    </message>
    <message>
        <source>签名有效，但时间戳无效</source>
        <translation>The signature is valid, but its timestamp is not</translation>
    </message>
    <message>
        <source>签名有效，但没有时间戳</source>
        <translation>The signature is valid, but has no timestamp</translation>
    </message>
    <message>
        <source>签名有效</source>
        <translation>The signature is valid</translation>
    </message>
    <message>
        <source>有效</source>
        <translation>valid</translation>
    </message>
    <message>
        <source>有效但没有有效的时间戳</source>
        <translation>valid, without a valid timestamp</translation>
    </message>
    <message>
        <source>已被篡改</source>
        <translation>tampered with</translation>
    </message>
    <message>
        <source>不受信任</source>
        <translation>not trusted</translation>
    </message>
    <message>
        <source>已过期</source>
        <translation>expired</translation>
    </message>
    <message>
        <source>无法读取</source>
        <translation>unreadable</translation>
    </message>
    <message>
        <source>；嵌套签名</source>
        <translation>; nested signature </translation>
    </message>
    <message>
        <source>：</source>
        <translation>: </translation>
    </message>
    <message>
        <source>（</source>
        <translation> (</translation>
    </message>
    <message>
        <source>）</source>
        <translation>) </translation>
    </message>
    <message>
        <source>；另有</source>
        <translation>; </translation>
    </message>
    <message>
        <source>个嵌套签名未验证</source>
        <translation> more nested signatures not verified</translation>
    </message>
    <message>
        <source>无法打开文件</source>
        <translation>Cannot open the file</translation>
    </message>
    <message>
        <source>文件为空</source>
        <translation>The file is empty</translation>
    </message>
    <message>
        <source>无法读取文件</source>
        <translation>Cannot read the file</translation>
    </message>
    <message>
        <source>不是程序文件或CAB文件，无法验证签名</source>
        <translation>Neither a program file nor a cabinet; its signature cannot be verified</translation>
    </message>
    <message>
        <source>非法的PE文件</source>
        <translation>Invalid PE file</translation>
    </message>
    <message>
        <source>文件没有签名</source>
        <translation>The file is not signed</translation>
    </message>
    <message>
        <source>无法建立受信任证书列表</source>
        <translation>Cannot set up the trusted certificates</translation>
    </message>
    <message>
        <source>，时间戳 </source>
        <translation>, timestamp </translation>
    </message>
    <message>
        <source>（无法读取附加的受信任证书文件）</source>
        <translation> (the extra trusted certificates file cannot be read)</translation>
    </message>
    <message>
        <source>使用了不安全的摘要算法 MD5</source>
        <translation>Uses the insecure digest algorithm MD5</translation>
    </message>
    <message>
        <source>签名证书链中的颁发机构不能用于代码签名</source>
        <translation>A certificate authority in the signer&apos;s chain may not be used for code signing</translation>
    </message>
    <message>
        <source>签名数据超出了文件末尾</source>
        <translation>The signature data reaches past the end of the file</translation>
    </message>
    <message>
        <source>签名数据过大（超过64 MB）</source>
        <translation>The signature data is too large (over 64 MB)</translation>
    </message>
    <message>
        <source>证书表的条目不是Authenticode签名</source>
        <translation>The certificate table entry is not an Authenticode signature</translation>
    </message>
    <message>
        <source>签名之后还有未签名的数据</source>
        <translation>Unsigned data follows the signature</translation>
    </message>
    <message>
        <source>证书表位于程序数据之间</source>
        <translation>The certificate table lies among the program&apos;s data</translation>
    </message>
    <message>
        <source>证书表没有按8字节对齐</source>
        <translation>The certificate table is not aligned to 8 bytes</translation>
    </message>
    <message>
        <source>签名中夹带了未签名的数据</source>
        <translation>The signature carries unsigned data</translation>
    </message>
    <message>
        <source>文件头不再指向文件中的签名，文件在签名后被修改</source>
        <translation>The headers no longer point at the signature in the file: the file was changed after signing</translation>
    </message>
    <message>
        <source>CAB文件头不完整</source>
        <translation>The cabinet header is incomplete</translation>
    </message>
    <message>
        <source>（摘要算法SHA-1已不够安全，Windows仍然接受）</source>
        <translation> (the SHA-1 digest algorithm is no longer secure; Windows still accepts it)</translation>
    </message>
    <message>
        <source>验证时出错：</source>
        <translation>Verification failed with an error: </translation>
    </message>
    <message>
        <source>签名有效，但时间戳的颁发者不受信任</source>
        <translation>Signature valid, but the timestamp&apos;s issuer is not trusted</translation>
    </message>
</context>
</TS>
