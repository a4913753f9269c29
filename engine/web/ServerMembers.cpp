// The Server members that live in the server context.
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <filesystem>
#include <span>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/LocaleDates.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspApplication.h"
#include "engine/script/SspCall.h"
#include "engine/script/SspObject.h"
#include "engine/settings/ServerSettings.h"
#include "engine/web/ServerContext.h"

namespace {

const char kNoSmtpHost[] = "Please specify SMTP host for notifier to work.";
const char kNoAdminEmail[] = "Please set administrator email addresses.";
const char kScriptOutsideRoot[] = "A task script must lie inside the root folder: ";

enum Member : int {
    kLog,
    kLogStr,
    kDateTime,
    kDate,
    kTime,
    kDateFormat,
    kDateTimeFormat,
    kSendMail,
    kUseDataSource,
    kOrgName,
    kAdminEmail,
    kDispatcherEmail,
    kSmtpHost,
    kSmtpPort,
    kPop3Host,
    kPop3Port,
    kImporterUsername,
    kImporterPassword,
    kImporterEmail,
    kHttpAddress,
    kHttpsAddress,
    kEmailSenderEnabled,
    kEmailSenderInterval,
    kTaskEnabled,
    kImporterScript,
    kTask3Name,
    kTask3Script,
    kTask4Name,
    kTask4Script,
    kTask5Name,
    kTask5Script,
    kAppInfo,
    kDataSourceInfo,
    kOdbcConnStr,
    kEngineVersion,
    kDsIdleTimeout,
    kSessionTimeout,
    kSaveSettings,
    kCopyFile,
    kSetVar,
    kVarExist,
    kVar,
};

// Counts that differ in their texts (SetVar, Var) are checked by the member.
constexpr CSspMember kMembers[] = {
    {"Log", 1, kLog},
    {"LogStr", 1, kLogStr},
    {"DateTime", 0, kDateTime},
    {"Date", 0, kDate},
    {"Time", 0, kTime},
    {"DateFormat", 0, kDateFormat},
    {"DateTimeFormat", 0, kDateTimeFormat},
    {"SendMail", 0, kSendMail},
    {"UseDataSource", 0, kUseDataSource},
    {"OrgName", 0, kOrgName},
    {"AdminEmail", 0, kAdminEmail},
    {"DispatcherEmail", 0, kDispatcherEmail},
    {"SmtpHost", 0, kSmtpHost},
    {"SmtpPort", 0, kSmtpPort},
    {"Pop3Host", 0, kPop3Host},
    {"Pop3Port", 0, kPop3Port},
    {"ImporterUsername", 0, kImporterUsername},
    {"ImporterPassword", 0, kImporterPassword},
    {"ImporterEmail", 0, kImporterEmail},
    {"HttpAddress", 0, kHttpAddress},
    {"HttpsAddress", 0, kHttpsAddress},
    {"EmailSenderEnabled", 0, kEmailSenderEnabled},
    {"EmailSenderInterval", 0, kEmailSenderInterval},
    {"TaskEnabled", 1, kTaskEnabled},
    {"ImporterScript", 0, kImporterScript},
    {"Task3Name", 0, kTask3Name},
    {"Task3Script", 0, kTask3Script},
    {"Task4Name", 0, kTask4Name},
    {"Task4Script", 0, kTask4Script},
    {"Task5Name", 0, kTask5Name},
    {"Task5Script", 0, kTask5Script},
    {"AppInfo", 0, kAppInfo},
    {"DataSourceInfo", 0, kDataSourceInfo},
    {"odbcConnStr", 0, kOdbcConnStr},
    {"EngineVersion", 0, kEngineVersion},
    {"DsIdleTimeout", 0, kDsIdleTimeout},
    {"SessionTimeout", 0, kSessionTimeout},
    {"SaveSettings", 0, kSaveSettings},
    {"CopyFile", 2, kCopyFile},
    {"SetVar", 0, kSetVar},
    {"VarExist", 1, kVarExist},
    {"Var", 0, kVar},
};

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
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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

void CServerContext::CallServerMember(CSspCall& call, CSspValue& result) {
    std::lock_guard lock(m_lock);
    const CSspMember* member = FindSspMember(kMembers, call.m_strMember);
    if (member == nullptr) {
        if (CSspValue* var = m_vars.Find(call.m_strMember)) {
            result = *var;
            return;
        }
        throw CSspException(std::string(g_msg.m_serverVarNotDefined) + call.m_strMember,
                            call.m_pPos);
    }
    if (static_cast<int>(call.ArgCount()) < member->m_minArgs) {
        throw CSspException(g_msg.m_missingParameter, call.m_pPos);
    }
    CServerSettings& s = m_settings;
    auto taskRow = [&](std::size_t row) -> CTaskEntry& {
        RequireTasks(row == 0 ? 1 : 5, call.m_pPos);
        return s.m_tasks[row];
    };
    switch (member->m_id) {
        case kLog:
            g_log.Log("%s", call.GetParamStr(0).c_str());
            result = CSspValue::FromInteger(1);
            break;
        case kLogStr:
            g_log.LogRaw("%s", call.GetParamStr(0).c_str());
            result = CSspValue::FromInteger(1);
            break;
        case kDateTime:
            GetDateTimeValue(result);
            break;
        case kDate:
            result = Text(CSspDateTime(static_cast<std::int64_t>(Now())).GetDateStr());
            break;
        case kTime:
            result = Text(CSspDateTime(static_cast<std::int64_t>(Now())).GetTimeStr());
            break;
        case kDateFormat:
            result = Text(GetLocaleDatePattern());
            break;
        case kDateTimeFormat:
            result = Text(GetLocaleDateTimePattern());
            break;
        case kSendMail:
            result = CSspValue::FromInteger(SendAdminMail(call));
            break;
        case kUseDataSource:
            SetDataSource(MakeUseDataSourceConnection(call), "/");
            result = Text("1");
            break;
        case kOrgName:
            result = Text(s.GeneralOrganizationName);
            break;
        case kAdminEmail:
            result = Text(s.EmAdminEmail);
            break;
        case kDispatcherEmail:
            result = Text(s.EmDispatcherEmail);
            break;
        case kSmtpHost:
            result = Text(s.EmSmtpServer);
            break;
        case kSmtpPort:
            result = Text(s.EmSmtpPort);
            break;
        case kPop3Host:
            result = Text(s.EmPop3Server);
            break;
        case kPop3Port:
            result = Text(s.EmPop3Port);
            break;
        case kImporterUsername:
            result = Text(s.EmImporterUserName);
            break;
        case kImporterPassword:
            result = Text(s.EmImporterPassword);
            break;
        case kImporterEmail:
            result = Text(s.EmImporterEmail);
            break;
        case kHttpAddress:
            result = Text(s.GeneralHttpAddr);
            break;
        case kHttpsAddress:
            result = Text(s.GeneralHttpsAddr);
            break;
        case kEmailSenderEnabled: {
            std::lock_guard taskLock(s.TaskLock());
            result = CSspValue::FromInteger(taskRow(0).m_enabled ? 1 : 0);
            break;
        }
        case kEmailSenderInterval: {
            std::lock_guard taskLock(s.TaskLock());
            result = CSspValue::FromInteger(static_cast<int>(taskRow(0).m_interval / 60));
            break;
        }
        case kTaskEnabled: {
            std::lock_guard taskLock(s.TaskLock());
            RequireTasks(5, call.m_pPos);
            std::string name = call.GetParamStr(0);
            int enabled = 0;
            for (const CTaskEntry& row : s.m_tasks) {
                if (row.m_enabled && row.m_name.size() == name.size() &&
                    strcasecmp(row.m_name.c_str(), name.c_str()) == 0) {
                    enabled = 1;
                    break;
                }
            }
            result = CSspValue::FromInteger(enabled);
            break;
        }
        case kImporterScript:
        case kTask3Script:
        case kTask4Script:
        case kTask5Script: {
            std::lock_guard taskLock(s.TaskLock());
            std::size_t row = member->m_id == kImporterScript ? 1
                              : member->m_id == kTask3Script  ? 2
                              : member->m_id == kTask4Script  ? 3
                                                              : 4;
            result = Text(taskRow(row).m_scriptPath);
            break;
        }
        case kTask3Name:
        case kTask4Name:
        case kTask5Name: {
            std::lock_guard taskLock(s.TaskLock());
            std::size_t row = member->m_id == kTask3Name ? 2 : member->m_id == kTask4Name ? 3 : 4;
            result = Text(taskRow(row).m_name);
            break;
        }
        case kAppInfo:
            result = Text(GetAppInfo());
            break;
        case kDataSourceInfo:
            result = Text(GetDataSourceInfo());
            break;
        case kOdbcConnStr:
            result = Text(s.DbOdbcConnectString);
            break;
        case kEngineVersion:
            result = Text("2");
            break;
        case kDsIdleTimeout:
            result = CSspValue::FromInteger(s.DbConnectionIdleTimeout);
            break;
        case kSessionTimeout:
            result = CSspValue::FromInteger(s.GeneralSessionTimeout);
            break;
        case kSaveSettings: {
            std::lock_guard taskLock(s.TaskLock());
            result = CSspValue::FromInteger(s.SaveTaskScripts() ? 1 : 0);
            break;
        }
        case kCopyFile:
            result = CSspValue::FromInteger(CopyFile(call));
            break;
        case kSetVar:
            if (call.ArgCount() != 2) {
                throw CSspException(g_msg.m_wrongParamCount, call.m_pPos);
            }
            SetVar(call.GetParamStr(0), call.Arg(1));
            result = CSspValue::FromInteger(1);
            break;
        case kVarExist:
            result = CSspValue::FromInteger(m_vars.Has(call.GetParamStr(0)) ? 1 : 0);
            break;
        case kVar:
            m_vars.ReadVar(call, result, g_msg.m_serverVarNotDefined);
            break;
    }
}
