#include "engine/mail/SspEmailIn.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <new>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/FilePaths.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/mail/MailHeader.h"
#include "engine/mail/MailSpool.h"
#include "engine/script/SspCall.h"
#include "engine/settings/RootFolder.h"
#include "engine/settings/ServerSettings.h"
#include "engine/web/FormData.h"

namespace {

enum Member {
    kFrom,
    kFromName,
    kTo,
    kCc,
    kPriority,
    kXMailer,
    kXLoop,
    kSubject,
    kContent,
    kHeaders,
    kHtmlContent,
    kFetch,
    kFetchMail,
    kDeleteMail,
    kMoveToFolder,
    kMoveToDeleted,
    kFileName,
    kSize,
    kAttachmentCount,
    kGetAttachment,
    kAttachName,
    kAttachSize,
    kAttachData,
    kPop3Host,
    kPop3Port,
    kUsername,
    kPassword,
    kAddress,
    kSetVar,
};

constexpr std::array<CSspMember, 29> kMembers{{
    {"from", 0, kFrom},
    {"FromName", 0, kFromName},
    {"to", 0, kTo},
    {"cc", 0, kCc},
    {"priority", 0, kPriority},
    {"XMailer", 0, kXMailer},
    {"XLoop", 0, kXLoop},
    {"subject", 0, kSubject},
    {"content", 0, kContent},
    {"headers", 0, kHeaders},
    {"htmlContent", 0, kHtmlContent},
    {"fetch", 0, kFetch},
    {"FetchMail", 0, kFetchMail},
    {"DeleteMail", 0, kDeleteMail},
    {"MoveToFolder", 1, kMoveToFolder},
    {"MoveToDeleted", 0, kMoveToDeleted},
    {"FileName", 0, kFileName},
    {"size", 0, kSize},
    {"AttachmentCount", 0, kAttachmentCount},
    {"GetAttachment", 0, kGetAttachment},
    {"AttachName", 0, kAttachName},
    {"AttachSize", 0, kAttachSize},
    {"AttachData", 0, kAttachData},
    {"Pop3Host", 0, kPop3Host},
    {"Pop3Port", 0, kPop3Port},
    {"Username", 0, kUsername},
    {"Password", 0, kPassword},
    {"Address", 0, kAddress},
    {"SetVar", 2, kSetVar},
}};

bool HoldsDotDot(const std::string& name) {
    return name.find("..") != std::string::npos;
}

bool EndsWithEml(const std::string& name) {
    return name.size() > 4 &&
           AsciiStartsWithNoCase(std::string_view(name).substr(name.size() - 4), ".eml");
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bytes.clear();
    char chunk[65536];
    bool ok = true;
    for (;;) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
        bytes.append(chunk, static_cast<size_t>(got));
    }
    close(fd);
    return ok;
}

// Spool names order by their numbers: "stamp.eml" before "stamp-1.eml" before "stamp-10.eml".
bool ArrivedBefore(const std::string& a, const std::string& b) {
    std::string_view x(a.data(), a.size() - 4);
    std::string_view y(b.data(), b.size() - 4);
    size_t i = 0;
    size_t j = 0;
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < x.size() && j < y.size()) {
        if (isDigit(x[i]) && isDigit(y[j])) {
            size_t ei = i;
            size_t ej = j;
            while (ei < x.size() && isDigit(x[ei])) {
                ++ei;
            }
            while (ej < y.size() && isDigit(y[ej])) {
                ++ej;
            }
            std::string_view nx = x.substr(i, ei - i);
            std::string_view ny = y.substr(j, ej - j);
            while (nx.size() > 1 && nx.front() == '0') {
                nx.remove_prefix(1);
            }
            while (ny.size() > 1 && ny.front() == '0') {
                ny.remove_prefix(1);
            }
            if (nx.size() != ny.size()) {
                return nx.size() < ny.size();
            }
            if (nx != ny) {
                return nx < ny;
            }
            i = ei;
            j = ej;
        } else {
            if (x[i] != y[j]) {
                return static_cast<unsigned char>(x[i]) < static_cast<unsigned char>(y[j]);
            }
            ++i;
            ++j;
        }
    }
    if (x.size() - i != y.size() - j) {
        return x.size() - i < y.size() - j;
    }
    return a < b;
}

CSspValue Int(long value) {
    return CSspValue::FromInteger(static_cast<std::int32_t>(value));
}

}  // namespace

CSspEmailIn::CSspEmailIn(std::string name)
    : m_strName(std::move(name)),
      m_strRoot(g_rootDir),
      m_log(g_log),
      m_bProcessSettings(true),
      m_mimeMap(g_settings.m_mimeMap) {}

CSspEmailIn::CSspEmailIn(std::string name, std::string root, CLogWriter& log,
                         const CPop3Settings& pop3, const CMimeMap& mimeMap)
    : m_strName(std::move(name)),
      m_strRoot(std::move(root)),
      m_log(log),
      m_pop3(pop3),
      m_bProcessSettings(false),
      m_mimeMap(mimeMap) {}

CSspEmailIn::~CSspEmailIn() = default;

void CSspEmailIn::Reset() {
    m_strPop3Host.clear();
    m_strPop3Port = "110";
    m_strUsername.clear();
    m_strPassword.clear();
    m_strFileName.clear();
    m_bParsePending = false;
    m_strAddress.clear();
    m_bDownloaded = false;
    m_bListingStarted = false;
    m_bListingOpen = false;
    m_listing.clear();
    m_nListingPos = 0;
    m_message = CMimeMessage();
    m_nAttachment = -1;
}

void CSspEmailIn::SetAccount(const std::string& host, const std::string& user,
                             const std::string& password) {
    m_strPop3Host = host;
    m_strUsername = user;
    m_strPassword = password;
}

std::string CSspEmailIn::MailboxName() const {
    std::string name;
    if (!m_strAddress.empty()) {
        name = m_strAddress;
    } else {
        name = m_strUsername.substr(0, m_strUsername.find_first_of("\\/:*?\"<>|")) + "@" +
               m_strPop3Host;
    }
    return HoldsDotDot(name) ? std::string() : name;
}

std::string CSspEmailIn::MailboxPath() const {
    std::string name = MailboxName();
    return name.empty() ? std::string() : m_strRoot + "/mail/" + name;
}

void CSspEmailIn::ForgetWalk() {
    m_bDownloaded = false;
    m_bListingStarted = false;
    m_bListingOpen = false;
    m_listing.clear();
    m_nListingPos = 0;
    m_strAddress.clear();
    m_strFileName.clear();
    m_bParsePending = false;
}

void CSspEmailIn::DownloadOnce() {
    if (m_bDownloaded) {
        return;
    }
    if (m_strPop3Host.empty()) {
        m_log.Log("Email_In.Pop3Host has not been set yet.");
        return;
    }
    if (m_strUsername.empty()) {
        m_log.Log("Email_In.Username has not been set yet.");
        return;
    }
    std::string mailbox = MailboxName();
    if (mailbox.empty()) {
        m_log.Log("Email_In mailbox folder name may not hold \"..\"");
        return;
    }
    m_bDownloaded = true;
    CPop3Settings settings = m_bProcessSettings ? Pop3SettingsFrom(g_settings) : m_pop3;
    CPop3Client client(m_strRoot, settings, m_log);
    client.FetchAll(m_strPop3Host, m_strPop3Port, m_strUsername, m_strPassword, mailbox);
}

bool CSspEmailIn::NextMessage() {
    std::string folder = MailboxPath();
    if (!m_bListingStarted) {
        m_bListingStarted = true;
        m_strFileName.clear();
        m_bParsePending = false;
        m_listing.clear();
        m_nListingPos = 0;
        if (DIR* dir = folder.empty() ? nullptr : opendir(folder.c_str())) {
            while (dirent* entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name[0] != '.' && EndsWithEml(name)) {
                    m_listing.push_back(std::move(name));
                }
            }
            closedir(dir);
        }
        // Spool names are time stamps with a clash number, so this is arrival order.
        std::sort(m_listing.begin(), m_listing.end(), ArrivedBefore);
        m_bListingOpen = true;
    }
    while (m_bListingOpen && m_nListingPos < m_listing.size()) {
        std::string path = folder + "/" + m_listing[m_nListingPos++];
        struct stat info {};
        // A file that another reader took meanwhile is passed over.
        if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            m_strFileName = path;
            m_bParsePending = true;
            return true;
        }
    }
    m_bListingOpen = false;
    m_listing.clear();
    return false;
}

void CSspEmailIn::EnsureParsed(const char* pos) {
    if (!m_bParsePending) {
        return;
    }
    m_bParsePending = false;
    std::string bytes;
    if (!ReadWholeFile(m_strFileName, bytes)) {
        throw CSspException(std::string(g_msg.m_openFileFailed) + m_strFileName, pos);
    }
    CMimeReader reader(m_mimeMap, m_log, m_strFileName);
    reader.Parse(bytes, m_message);
    m_nAttachment = -1;
}

const CMailAttachment* CSspEmailIn::CurrentAttachment() const {
    if (m_nAttachment < 0 || static_cast<size_t>(m_nAttachment) >= m_message.m_attachments.size()) {
        return nullptr;
    }
    return &m_message.m_attachments[static_cast<size_t>(m_nAttachment)];
}

bool CSspEmailIn::SaveAttachment(size_t index, const std::string& folder, std::string* path) {
    EnsureParsed(nullptr);
    if (index >= m_message.m_attachments.size()) {
        return false;
    }
    const CMailAttachment& attachment = m_message.m_attachments[index];
    std::string target = folder + "/" + CFormData::UploadFileName(attachment.m_strName);
    int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        m_log.Log("Failed to create %s", target.c_str());
        return false;
    }
    const char* data = attachment.m_data.data();
    size_t left = attachment.m_data.size();
    while (left > 0) {
        ssize_t written = write(fd, data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            break;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    bool ok = left == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok) {
        m_log.Log("Failed to write %s", target.c_str());
        unlink(target.c_str());
        return false;
    }
    if (path != nullptr) {
        *path = target;
    }
    return true;
}

void CSspEmailIn::CallMethod(CSspInterpreter& /*interp*/, CSspCall& call, CSspValue& result) {
    const CSspMember& member = DispatchSspMember(kMembers, call, g_msg.m_unknownEmailInField);
    const char* pos = call.m_pPos;
    auto text = [&](const std::string& value) { result = CSspValue::FromText(value); };
    switch (member.m_id) {
        case kFrom:
            EnsureParsed(pos);
            text(m_message.m_strFrom);
            break;
        case kFromName:
            EnsureParsed(pos);
            text(m_message.m_strFromName);
            break;
        case kTo:
            EnsureParsed(pos);
            text(m_message.m_strTo);
            break;
        case kCc:
            EnsureParsed(pos);
            text(m_message.m_strCc);
            break;
        case kPriority:
            EnsureParsed(pos);
            text(m_message.m_strPriority);
            break;
        case kXMailer:
            EnsureParsed(pos);
            text(m_message.m_strXMailer);
            break;
        case kXLoop:
            EnsureParsed(pos);
            text(m_message.m_strXLoop);
            break;
        case kSubject:
            EnsureParsed(pos);
            text(m_message.m_strSubject);
            break;
        case kContent:
            EnsureParsed(pos);
            text(m_message.m_strContent);
            break;
        case kHeaders:
            EnsureParsed(pos);
            text(m_message.m_strHeaders);
            break;
        case kHtmlContent:
            EnsureParsed(pos);
            text(m_message.HtmlContent());
            break;
        case kFetch:
            throw CSspException(g_msg.m_fetchObsolete, pos);
        case kFetchMail:
            DownloadOnce();
            result = Int(NextMessage() ? 1 : 0);
            break;
        case kDeleteMail:
            DownloadOnce();
            result = Int(!m_strFileName.empty() && ForceDeleteFile(m_strFileName, m_log) ? 1 : 0);
            break;
        case kMoveToFolder:
        case kMoveToDeleted: {
            std::string folder = member.m_id == kMoveToDeleted ? "deleted" : call.GetParamStr(0);
            DownloadOnce();
            if (m_strFileName.empty()) {
                result = Int(0);
            } else if (folder.empty() || HoldsDotDot(folder)) {
                m_log.Log("Refused mail folder name: %s", folder.c_str());
                result = Int(0);
            } else {
                result = Int(MoveMailFile(m_strRoot, m_strFileName, folder, m_log) ? 1 : 0);
            }
            break;
        }
        case kFileName:
            text(m_strFileName);
            break;
        case kSize: {
            struct stat info {};
            bool known = !m_strFileName.empty() && stat(m_strFileName.c_str(), &info) == 0;
            result = Int(known ? static_cast<long>(info.st_size) : 0);
            break;
        }
        case kAttachmentCount:
            EnsureParsed(pos);
            result = Int(static_cast<long>(m_message.m_attachments.size()));
            break;
        case kGetAttachment:
            EnsureParsed(pos);
            if (static_cast<size_t>(m_nAttachment + 1) <= m_message.m_attachments.size()) {
                ++m_nAttachment;
            }
            result = Int(CurrentAttachment() != nullptr ? 1 : 0);
            break;
        case kAttachName: {
            EnsureParsed(pos);
            const CMailAttachment* current = CurrentAttachment();
            text(current != nullptr ? current->m_strName : std::string());
            break;
        }
        case kAttachSize: {
            EnsureParsed(pos);
            const CMailAttachment* current = CurrentAttachment();
            result = Int(current != nullptr ? static_cast<long>(current->m_data.size()) : 0);
            break;
        }
        case kAttachData: {
            EnsureParsed(pos);
            const CMailAttachment* current = CurrentAttachment();
            if (current == nullptr) {
                throw CSspException(g_msg.m_noMoreAttachment, pos);
            }
            try {
                result = CSspValue::FromBinary(current->m_data, kSqlLongVarBinary);
            } catch (const std::bad_alloc&) {
                throw CSspException(g_msg.m_emailCopyOutOfMemory, pos);
            }
            break;
        }
        case kPop3Host:
            text(m_strPop3Host);
            break;
        case kPop3Port:
            text(m_strPop3Port);
            break;
        case kUsername:
            text(m_strUsername);
            break;
        case kPassword:
            text(m_strPassword);
            break;
        case kAddress:
            text(m_strAddress);
            break;
        case kSetVar: {
            std::string name = call.GetParamStr(0);
            std::string value = call.GetParamStr(1);
            if (SspNameEquals(name, "Pop3Host")) {
                m_strPop3Host = value;
            } else if (SspNameEquals(name, "Pop3Port")) {
                m_strPop3Port = value;
            } else if (SspNameEquals(name, "Username")) {
                if (value != m_strUsername) {
                    // Another account: its mail is downloaded and walked afresh.
                    ForgetWalk();
                }
                m_strUsername = value;
            } else if (SspNameEquals(name, "Password")) {
                m_strPassword = value;
            } else if (SspNameEquals(name, "Address")) {
                m_strAddress = value;
            } else {
                throw CSspException(std::string(g_msg.m_unknownEmailInField) + name, pos);
            }
            result = Int(1);
            break;
        }
    }
}
