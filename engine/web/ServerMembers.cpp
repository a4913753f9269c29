// The Server members that live in the server context.
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <filesystem>
#include <span>

#include "engine/data/DataSource.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/GroupFiles.h"
#include "engine/foundation/LocaleDates.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspApplication.h"
#include "engine/script/SspObject.h"
#include "engine/settings/ServerSettings.h"
#include "engine/web/ServerContext.h"

namespace {

const char kNoSmtpHost[] = "Please specify SMTP host for notifier to work.";
const char kNoAdminEmail[] = "Please set administrator email addresses.";
const char kScriptOutsideRoot[] = "A task script must lie inside the root folder: ";

// Task-row scripts that SetVar and the members name; row numbers of the table.
struct CTaskScriptName {
    const char* m_name;
    std::size_t m_row;
};
constexpr CTaskScriptName kTaskScripts[] = {
    {"ImporterScript", 1}, {"Task3Script", 2}, {"Task4Script", 3}, {"Task5Script", 4}};

CSspValue Text(const std::string& text) {
    return CSspValue::FromText(text);
}

// `relative` under `base` with "." and ".." folded; false when it is empty, holds a NUL or
// would leave `base`, lexically or through a link.
bool ResolveUnder(const std::string& base, const std::string& relative, std::string& out) {
    if (relative.find('\0') != std::string::npos) {
        return false;
    }
    std::vector<std::string> parts;
    std::string part;
    auto flush = [&]() {
        if (part == "..") {
            if (parts.empty()) {
                return false;
            }
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
        return true;
    };
    for (char c : relative) {
        if (c == '/' || c == '\\') {
            if (!flush()) {
                return false;
            }
        } else {
            part += c;
        }
    }
    if (!flush() || parts.empty()) {
        return false;
    }
    out = base;
    for (const std::string& p : parts) {
        out += "/" + p;
    }
    std::error_code ec;
    std::filesystem::path real = std::filesystem::weakly_canonical(out, ec);
    std::filesystem::path root = std::filesystem::weakly_canonical(base, ec);
    if (ec) {
        return false;
    }
    std::string realText = real.string();
    std::string rootText = root.string() + "/";
    return realText.compare(0, rootText.size(), rootText) == 0;
}

bool CopyBytes(const std::string& from, const std::string& to) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return false;
    }
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kGroupFileMode);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) {
            break;
        }
    }
    ::close(in);
    if (::close(out) != 0) {
        ok = false;
    }
    return ok;
}

}  // namespace

void CServerContext::RequireTasks(std::size_t rows, const char* pos) {
    if (m_settings.m_tasks.size() < rows) {
        throw CSspException(g_msg.m_defaultTasksMissing, pos);
    }
}

void CServerContext::SetVar(const std::string& name, const CSspValue& value) {
    std::lock_guard lock(m_lock);
    for (const CTaskScriptName& task : kTaskScripts) {
        if (strcasecmp(name.c_str(), task.m_name) == 0) {
            // The scheduler runs what this names: keep it inside the installation.
            const std::string& root = m_settings.RootFolder();
            std::string text = value.GetText();
            std::string relative = text;
            if (!text.empty() && text[0] == '/') {
                relative = text.compare(0, root.size() + 1, root + "/") == 0
                               ? text.substr(root.size() + 1)
                               : std::string("..");
            }
            std::string script;
            if (!ResolveUnder(root, relative, script)) {
                throw CSspException(kScriptOutsideRoot + text);
            }
            std::lock_guard taskLock(m_settings.TaskLock());
            RequireTasks(5, nullptr);
            m_settings.m_tasks[task.m_row].m_scriptPath = script;
            return;
        }
    }
    try {
        m_vars.Set(name, value);
    } catch (const std::bad_alloc&) {
        throw CSspException(g_msg.m_serverVarOutOfMemory);
    }
}

void CServerContext::GetDateTimeValue(CSspValue& value) {
    value = CSspValue::FromDateTime(static_cast<std::int64_t>(Now()), kSqlDate);
}

int CServerContext::CopyFile(CSspCall& call) {
    std::lock_guard lock(m_lock);
    if (call.ArgCount() < 2) {
        throw CSspException(g_msg.m_missingParameter, call.m_pPos);
    }
    std::string webRoot = m_settings.RootFolder() + "/webroot";
    std::string from;
    std::string to;
    if (!ResolveUnder(webRoot, call.GetParamStr(0), from) ||
        !ResolveUnder(webRoot, call.GetParamStr(1), to)) {
        g_log.Log("CopyFile refused a path outside the web root.");
        return 0;
    }
    return CopyBytes(from, to) ? 1 : 0;
}

int CServerContext::SendAdminMail(CSspCall& call) {
    std::lock_guard lock(m_lock);
    if (m_settings.EmSmtpServer.empty() || m_pMailer == nullptr) {
        g_log.Log("%s", kNoSmtpHost);
        return 0;
    }
    if (m_settings.EmAdminEmail.empty()) {
        g_log.Log("%s", kNoAdminEmail);
        return 0;
    }
    if (call.ArgCount() < 3) {
        throw CSspException(g_msg.m_missingParameter, call.m_pPos);
    }
    return m_pMailer->Send(call.GetParamStr(0), call.GetParamStr(1), call.GetParamStr(2)) ? 1 : 0;
}

// The handlers run under the context's lock, which CallServerMember holds.
struct CServerContext::CMembers {
    using Row = CSspMemberRow<CServerContext&>;

    template <std::string CServerSettings::*field>
    static void Setting(CServerContext& self, CSspCall&, CSspValue& result) {
        result = Text(self.m_settings.*field);
    }
    template <int CServerSettings::*field>
    static void Number(CServerContext& self, CSspCall&, CSspValue& result) {
        result = CSspValue::FromInteger(self.m_settings.*field);
    }
    // Row 0 is the mail sender's; the named rows need all five.
    static CTaskEntry& TaskRow(CServerContext& self, std::size_t row, const CSspCall& call) {
        self.RequireTasks(row == 0 ? 1 : 5, call.m_pPos);
        return self.m_settings.m_tasks[row];
    }
    template <std::size_t row>
    static void TaskScript(CServerContext& self, CSspCall& call, CSspValue& result) {
        std::lock_guard taskLock(self.m_settings.TaskLock());
        result = Text(TaskRow(self, row, call).m_scriptPath);
    }
    template <std::size_t row>
    static void TaskName(CServerContext& self, CSspCall& call, CSspValue& result) {
        std::lock_guard taskLock(self.m_settings.TaskLock());
        result = Text(TaskRow(self, row, call).m_name);
    }

    static void Log(CServerContext&, CSspCall& call, CSspValue& result) {
        g_log.Log("%s", call.GetParamStr(0).c_str());
        result = CSspValue::FromInteger(1);
    }
    static void LogStr(CServerContext&, CSspCall& call, CSspValue& result) {
        g_log.LogRaw("%s", call.GetParamStr(0).c_str());
        result = CSspValue::FromInteger(1);
    }
    static void DateTime(CServerContext& self, CSspCall&, CSspValue& result) {
        self.GetDateTimeValue(result);
    }
    static void Date(CServerContext& self, CSspCall&, CSspValue& result) {
        result = Text(CSspDateTime(static_cast<std::int64_t>(self.Now())).GetDateStr());
    }
    static void Time(CServerContext& self, CSspCall&, CSspValue& result) {
        result = Text(CSspDateTime(static_cast<std::int64_t>(self.Now())).GetTimeStr());
    }
    static void DateFormat(CServerContext&, CSspCall&, CSspValue& result) {
        result = Text(GetLocaleDatePattern());
    }
    static void DateTimeFormat(CServerContext&, CSspCall&, CSspValue& result) {
        result = Text(GetLocaleDateTimePattern());
    }
    static void SendMail(CServerContext& self, CSspCall& call, CSspValue& result) {
        result = CSspValue::FromInteger(self.SendAdminMail(call));
    }
    static void UseDataSource(CServerContext& self, CSspCall& call, CSspValue& result) {
        self.SetDataSource(MakeUseDataSourceConnection(call), "/");
        result = Text("1");
    }
    static void EmailSenderEnabled(CServerContext& self, CSspCall& call, CSspValue& result) {
        std::lock_guard taskLock(self.m_settings.TaskLock());
        result = CSspValue::FromInteger(TaskRow(self, 0, call).m_enabled ? 1 : 0);
    }
    static void EmailSenderInterval(CServerContext& self, CSspCall& call, CSspValue& result) {
        std::lock_guard taskLock(self.m_settings.TaskLock());
        result = CSspValue::FromInteger(static_cast<int>(TaskRow(self, 0, call).m_interval / 60));
    }
    static void TaskEnabled(CServerContext& self, CSspCall& call, CSspValue& result) {
        std::lock_guard taskLock(self.m_settings.TaskLock());
        self.RequireTasks(5, call.m_pPos);
        std::string name = call.GetParamStr(0);
        int enabled = 0;
        for (const CTaskEntry& row : self.m_settings.m_tasks) {
            if (row.m_enabled && row.m_name.size() == name.size() &&
                strcasecmp(row.m_name.c_str(), name.c_str()) == 0) {
                enabled = 1;
                break;
            }
        }
        result = CSspValue::FromInteger(enabled);
    }
    static void AppInfo(CServerContext& self, CSspCall&, CSspValue& result) {
        result = Text(self.GetAppInfo());
    }
    static void DataSourceInfo(CServerContext& self, CSspCall&, CSspValue& result) {
        result = Text(self.GetDataSourceInfo());
    }
    static void EngineVersion(CServerContext&, CSspCall&, CSspValue& result) { result = Text("2"); }
    static void SaveSettings(CServerContext& self, CSspCall&, CSspValue& result) {
        std::lock_guard taskLock(self.m_settings.TaskLock());
        result = CSspValue::FromInteger(self.m_settings.SaveTaskScripts() ? 1 : 0);
    }
    static void CopyFile(CServerContext& self, CSspCall& call, CSspValue& result) {
        result = CSspValue::FromInteger(self.CopyFile(call));
    }
    static void SetVar(CServerContext& self, CSspCall& call, CSspValue& result) {
        CSspVarTable::CheckSetVarCount(call);
        self.SetVar(call.GetParamStr(0), call.Arg(1));
        result = CSspValue::FromInteger(1);
    }
    static void VarExist(CServerContext& self, CSspCall& call, CSspValue& result) {
        result = CSspValue::FromInteger(self.m_vars.Has(call.GetParamStr(0)) ? 1 : 0);
    }
    static void Var(CServerContext& self, CSspCall& call, CSspValue& result) {
        self.m_vars.ReadVar(call, result, g_msg.m_serverVarNotDefined);
    }

    using S = CServerSettings;
    static constexpr int kAny = kSspAnyArgs;
    static constexpr Row kTable[] = {
        {"Log", 1, kAny, &Log},
        {"LogStr", 1, kAny, &LogStr},
        {"DateTime", 0, kAny, &DateTime},
        {"Date", 0, kAny, &Date},
        {"Time", 0, kAny, &Time},
        {"DateFormat", 0, kAny, &DateFormat},
        {"DateTimeFormat", 0, kAny, &DateTimeFormat},
        {"SendMail", 0, kAny, &SendMail},
        {"UseDataSource", 0, kAny, &UseDataSource},
        {"OrgName", 0, kAny, &Setting<&S::GeneralOrganizationName>},
        {"AdminEmail", 0, kAny, &Setting<&S::EmAdminEmail>},
        {"DispatcherEmail", 0, kAny, &Setting<&S::EmDispatcherEmail>},
        {"SmtpHost", 0, kAny, &Setting<&S::EmSmtpServer>},
        {"SmtpPort", 0, kAny, &Setting<&S::EmSmtpPort>},
        {"Pop3Host", 0, kAny, &Setting<&S::EmPop3Server>},
        {"Pop3Port", 0, kAny, &Setting<&S::EmPop3Port>},
        {"ImporterUsername", 0, kAny, &Setting<&S::EmImporterUserName>},
        {"ImporterPassword", 0, kAny, &Setting<&S::EmImporterPassword>},
        {"ImporterEmail", 0, kAny, &Setting<&S::EmImporterEmail>},
        {"HttpAddress", 0, kAny, &Setting<&S::GeneralHttpAddr>},
        {"HttpsAddress", 0, kAny, &Setting<&S::GeneralHttpsAddr>},
        {"EmailSenderEnabled", 0, kAny, &EmailSenderEnabled},
        {"EmailSenderInterval", 0, kAny, &EmailSenderInterval},
        {"TaskEnabled", 1, kAny, &TaskEnabled},
        {"ImporterScript", 0, kAny, &TaskScript<1>},
        {"Task3Name", 0, kAny, &TaskName<2>},
        {"Task3Script", 0, kAny, &TaskScript<2>},
        {"Task4Name", 0, kAny, &TaskName<3>},
        {"Task4Script", 0, kAny, &TaskScript<3>},
        {"Task5Name", 0, kAny, &TaskName<4>},
        {"Task5Script", 0, kAny, &TaskScript<4>},
        {"AppInfo", 0, kAny, &AppInfo},
        {"DataSourceInfo", 0, kAny, &DataSourceInfo},
        {"odbcConnStr", 0, kAny, &Setting<&S::DbOdbcConnectString>},
        {"EngineVersion", 0, kAny, &EngineVersion},
        {"DsIdleTimeout", 0, kAny, &Number<&S::DbConnectionIdleTimeout>},
        {"SessionTimeout", 0, kAny, &Number<&S::GeneralSessionTimeout>},
        {"SaveSettings", 0, kAny, &SaveSettings},
        {"CopyFile", 2, kAny, &CopyFile},
        {"SetVar", 0, kAny, &SetVar},
        {"VarExist", 1, kAny, &VarExist},
        {"Var", 0, kAny, &Var},
    };
};

void CServerContext::CallServerMember(CSspCall& call, CSspValue& result) {
    std::lock_guard lock(m_lock);
    const CMembers::Row* row = FindSspMemberRow(CMembers::kTable, call.m_strMember);
    if (row == nullptr) {
        m_vars.ReadNamedVar(call, result, g_msg.m_serverVarNotDefined);
        return;
    }
    CallSspMemberRow(*row, call, result, *this);
}
