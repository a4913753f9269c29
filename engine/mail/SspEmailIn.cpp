#include "engine/mail/SspEmailIn.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/FilePaths.h"
#include "engine/foundation/GroupFiles.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/mail/MailHeader.h"
#include "engine/mail/MailSpool.h"
#include "engine/settings/RootFolder.h"
#include "engine/settings/ServerSettings.h"
#include "engine/web/FormData.h"

namespace {

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
    int fd =
        open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, kGroupFileMode);
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

struct CSspEmailIn::CMembers {
    using Row = CSspMemberRow<CSspEmailIn&>;

    // A part of the current message, parsed first when a parse is pending.
    template <std::string CMimeMessage::*field>
    static void Part(CSspEmailIn& self, CSspCall& call, CSspValue& result) {
        self.EnsureParsed(call.m_pPos);
        result = CSspValue::FromText(self.m_message.*field);
    }
    // One of the object's own texts.
    template <std::string CSspEmailIn::*field>
    static void Own(CSspEmailIn& self, CSspCall&, CSspValue& result) {
        result = CSspValue::FromText(self.*field);
    }

    static void HtmlContent(CSspEmailIn& self, CSspCall& call, CSspValue& result) {
        self.EnsureParsed(call.m_pPos);
        result = CSspValue::FromText(self.m_message.HtmlContent());
    }
    static void Fetch(CSspEmailIn&, CSspCall& call, CSspValue&) {
        throw CSspException(g_msg.m_fetchObsolete, call.m_pPos);
    }
    static void FetchMail(CSspEmailIn& self, CSspCall&, CSspValue& result) {
        self.DownloadOnce();
        result = Int(self.NextMessage() ? 1 : 0);
    }
    static void DeleteMail(CSspEmailIn& self, CSspCall&, CSspValue& result) {
        self.DownloadOnce();
        result = Int(
            !self.m_strFileName.empty() && ForceDeleteFile(self.m_strFileName, self.m_log) ? 1 : 0);
    }
    static void MoveTo(CSspEmailIn& self, const std::string& folder, CSspValue& result) {
        self.DownloadOnce();
        if (self.m_strFileName.empty()) {
            result = Int(0);
        } else if (folder.empty() || HoldsDotDot(folder)) {
            self.m_log.Log("Refused mail folder name: %s", folder.c_str());
            result = Int(0);
        } else {
            result =
                Int(MoveMailFile(self.m_strRoot, self.m_strFileName, folder, self.m_log) ? 1 : 0);
        }
    }
    static void MoveToFolder(CSspEmailIn& self, CSspCall& call, CSspValue& result) {
        MoveTo(self, call.GetParamStr(0), result);
    }
    static void MoveToDeleted(CSspEmailIn& self, CSspCall&, CSspValue& result) {
        MoveTo(self, "deleted", result);
    }
    static void Size(CSspEmailIn& self, CSspCall&, CSspValue& result) {
        struct stat info {};
        bool known = !self.m_strFileName.empty() && stat(self.m_strFileName.c_str(), &info) == 0;
        result = Int(known ? static_cast<long>(info.st_size) : 0);
    }
    static void AttachmentCount(CSspEmailIn& self, CSspCall& call, CSspValue& result) {
        self.EnsureParsed(call.m_pPos);
        result = Int(static_cast<long>(self.m_message.m_attachments.size()));
    }
    static void GetAttachment(CSspEmailIn& self, CSspCall& call, CSspValue& result) {
        self.EnsureParsed(call.m_pPos);
        if (static_cast<size_t>(self.m_nAttachment + 1) <= self.m_message.m_attachments.size()) {
            ++self.m_nAttachment;
        }
        result = Int(self.CurrentAttachment() != nullptr ? 1 : 0);
    }
    static void AttachName(CSspEmailIn& self, CSspCall& call, CSspValue& result) {
        self.EnsureParsed(call.m_pPos);
        const CMailAttachment* current = self.CurrentAttachment();
        result = CSspValue::FromText(current != nullptr ? current->m_strName : std::string());
    }
    static void AttachSize(CSspEmailIn& self, CSspCall& call, CSspValue& result) {
        self.EnsureParsed(call.m_pPos);
        const CMailAttachment* current = self.CurrentAttachment();
        result = Int(current != nullptr ? static_cast<long>(current->m_data.size()) : 0);
    }
    static void AttachData(CSspEmailIn& self, CSspCall& call, CSspValue& result) {
        self.EnsureParsed(call.m_pPos);
        const CMailAttachment* current = self.CurrentAttachment();
        if (current == nullptr) {
            throw CSspException(g_msg.m_noMoreAttachment, call.m_pPos);
        }
        try {
            result = CSspValue::FromBinary(current->m_data, kSqlLongVarBinary);
        } catch (const std::bad_alloc&) {
            throw CSspException(g_msg.m_emailCopyOutOfMemory, call.m_pPos);
        }
    }
    static void SetVar(CSspEmailIn& self, CSspCall& call, CSspValue& result) {
        std::string name = call.GetParamStr(0);
        std::string value = call.GetParamStr(1);
        if (SspNameEquals(name, "Pop3Host")) {
            self.m_strPop3Host = value;
        } else if (SspNameEquals(name, "Pop3Port")) {
            self.m_strPop3Port = value;
        } else if (SspNameEquals(name, "Username")) {
            if (value != self.m_strUsername) {
                // Another account: its mail is downloaded and walked afresh.
                self.ForgetWalk();
            }
            self.m_strUsername = value;
        } else if (SspNameEquals(name, "Password")) {
            self.m_strPassword = value;
        } else if (SspNameEquals(name, "Address")) {
            self.m_strAddress = value;
        } else {
            throw CSspException(std::string(g_msg.m_unknownEmailInField) + name, call.m_pPos);
        }
        result = Int(1);
    }

    using M = CMimeMessage;
    using E = CSspEmailIn;
    static constexpr int kAny = kSspAnyArgs;
    static constexpr Row kTable[] = {
        {"from", 0, kAny, &Part<&M::m_strFrom>},
        {"FromName", 0, kAny, &Part<&M::m_strFromName>},
        {"to", 0, kAny, &Part<&M::m_strTo>},
        {"cc", 0, kAny, &Part<&M::m_strCc>},
        {"priority", 0, kAny, &Part<&M::m_strPriority>},
        {"XMailer", 0, kAny, &Part<&M::m_strXMailer>},
        {"XLoop", 0, kAny, &Part<&M::m_strXLoop>},
        {"subject", 0, kAny, &Part<&M::m_strSubject>},
        {"content", 0, kAny, &Part<&M::m_strContent>},
        {"headers", 0, kAny, &Part<&M::m_strHeaders>},
        {"htmlContent", 0, kAny, &HtmlContent},
        {"fetch", 0, kAny, &Fetch},
        {"FetchMail", 0, kAny, &FetchMail},
        {"DeleteMail", 0, kAny, &DeleteMail},
        {"MoveToFolder", 1, kAny, &MoveToFolder},
        {"MoveToDeleted", 0, kAny, &MoveToDeleted},
        {"FileName", 0, kAny, &Own<&E::m_strFileName>},
        {"size", 0, kAny, &Size},
        {"AttachmentCount", 0, kAny, &AttachmentCount},
        {"GetAttachment", 0, kAny, &GetAttachment},
        {"AttachName", 0, kAny, &AttachName},
        {"AttachSize", 0, kAny, &AttachSize},
        {"AttachData", 0, kAny, &AttachData},
        {"Pop3Host", 0, kAny, &Own<&E::m_strPop3Host>},
        {"Pop3Port", 0, kAny, &Own<&E::m_strPop3Port>},
        {"Username", 0, kAny, &Own<&E::m_strUsername>},
        {"Password", 0, kAny, &Own<&E::m_strPassword>},
        {"Address", 0, kAny, &Own<&E::m_strAddress>},
        {"SetVar", 2, kAny, &SetVar},
    };
};

void CSspEmailIn::CallMethod(CSspInterpreter& /*interp*/, CSspCall& call, CSspValue& result) {
    DispatchSspMemberRow(CMembers::kTable, call, result, g_msg.m_unknownEmailInField, *this);
}
