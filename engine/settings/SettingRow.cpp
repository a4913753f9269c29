#include "engine/settings/SettingRow.h"

#include <arpa/inet.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/LogWriter.h"
#include "engine/settings/FileTokenKey.h"
#include "engine/settings/ServerSettings.h"

namespace {

using S = CServerSettings;

std::string TrimRight(const std::string& text) {
    return std::string(TrimAsciiSpaceRight(text));
}

std::string Trim(const std::string& text) {
    return std::string(TrimAsciiSpace(text));
}

std::string Decimal(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return text;
}

SettingRow Text(const char* name, std::string S::*member, const char* value = "") {
    return {.m_name = name, .m_member = member, .m_default = value};
}

SettingRow Number(const char* name, int S::*member, const char* value,
                  SettingUse use = SettingUse::kSaved) {
    return {.m_name = name,
            .m_member = member,
            .m_default = value,
            .m_kind = SettingKind::kNumber,
            .m_use = use};
}

SettingRow Switch(const char* name, bool S::*member, SettingKind polarity,
                  SettingUse use = SettingUse::kSaved) {
    return {.m_name = name,
            .m_member = member,
            .m_default = polarity == SettingKind::kOnWhenYes ? "no" : "yes",
            .m_kind = polarity,
            .m_use = use};
}

SettingRow Corrected(SettingRow row, SettingCorrection correction, int least = 0, int most = 0) {
    row.m_correction = correction;
    row.m_least = least;
    row.m_most = most;
    return row;
}

SettingRow Ruled(SettingRow row, SettingRow::Rule rule) {
    row.m_rule = rule;
    return row;
}

// Without a usable stored address, or when asked to, the host's own address is taken.
void AddressRule(S& s, bool stored) {
    std::string autoCorrect;
    s.Key().QueryValue("AutoCorrectIP", autoCorrect);
    if (!stored || autoCorrect == "yes") {
        s.GetLocalAddress(s.GeneralTcpipAddress);
    }
    s.m_addressNumber = ::inet_addr(s.GeneralTcpipAddress.c_str());
}

void DomainRule(S& s, bool stored) {
    if (!stored) {
        s.FQDN = s.GeneralTcpipAddress;
    }
}

// The console finds a free port for a store without one and keeps it for the other programs.
void PortRule(S& s, bool stored) {
    if (!stored && s.GetBuild() == SettingsBuild::kConsole &&
        s.AutoCorrectPort(s.GeneralTcpipAddress, s.GeneralTcpipPort)) {
        s.Key().SetValue("GeneralTcpipAddress", s.GeneralTcpipAddress);
        s.Key().SetValue("GeneralTcpipPort", s.GeneralTcpipPort);
    }
}

// Unserialised access cannot share one connection between threads.
void ThreadOwnRule(S& s, bool) {
    if (!s.DbAccessSerialize) {
        s.DbConnectionThreadOwn = true;
    }
}

// The console shows and saves an empty address as empty: the other programs compute it.
void HttpAddressRule(S& s, bool) {
    if (s.GeneralHttpAddr.empty() && s.GetBuild() != SettingsBuild::kConsole) {
        s.GeneralHttpAddr = s.GeneralTcpipPort == "80"
                                ? "http://" + s.GeneralTcpipAddress
                                : "http://" + s.GeneralTcpipAddress + ":" + s.GeneralTcpipPort;
    }
}

void HttpsAddressRule(S& s, bool) {
    if (s.GeneralHttpsAddr.empty() && s.GetBuild() != SettingsBuild::kConsole) {
        s.GeneralHttpsAddr = s.GeneralSslPort == "443"
                                 ? "https://" + s.GeneralTcpipAddress
                                 : "https://" + s.GeneralTcpipAddress + ":" + s.GeneralSslPort;
    }
}

bool IsFileTokenKey(const std::string& text) {
    CFileTokenKey key{};
    return ParseFileTokenKey(text, key);
}

// The first program to start makes the key. The store decides under its lock, so programs
// starting at once all take the one key written first. Without a key kept in the store, links
// are signed with a key of this program alone (engine/script/FileIdUrl.cpp).
void FileTokenKeyRule(S& s, bool) {
    if (IsFileTokenKey(s.FileTokenKey)) {
        return;
    }
    CFileTokenKey key{};
    std::string kept;
    if (MakeFileTokenKey(key) &&
        s.Key().EnsureValue("FileTokenKey", IsFileTokenKey, FileTokenKeyText(key), kept)) {
        s.FileTokenKey = kept;
        return;
    }
    s.FileTokenKey.clear();
    g_log.Log(
        "Cannot keep the attachment link key in %s (%s): links made now hold until this "
        "program ends.",
        s.Key().StorePath().c_str(), s.Key().LastError().c_str());
}

void EncodingRule(S& s, bool stored) {
    if (!stored) {
        s.MimeTextEncoding = Trim(S::GetDefaultCharset());
    }
}

using enum SettingCorrection;
using enum SettingKind;
using enum SettingUse;

void Assign(const SettingRow& row, S& s, const std::string& text) {
    switch (row.m_kind) {
        case kText:
            s.*std::get<std::string S::*>(row.m_member) = text;
            break;
        case kNumber:
            s.*std::get<int S::*>(row.m_member) = std::atoi(text.c_str());
            break;
        case kOnWhenYes:
            s.*std::get<bool S::*>(row.m_member) = text == "yes";
            break;
        case kOnUnlessNo:
            s.*std::get<bool S::*>(row.m_member) = text != "no";
            break;
        case kTaskTable:
        case kMimeMap:
            break;
    }
}

void Correct(const SettingRow& row, S& s) {
    switch (row.m_correction) {
        case kTrimRight: {
            std::string& text = s.*std::get<std::string S::*>(row.m_member);
            text = TrimRight(text);
            break;
        }
        case kTrim: {
            std::string& text = s.*std::get<std::string S::*>(row.m_member);
            text = Trim(text);
            break;
        }
        case kRaiseToLeast: {
            int& number = s.*std::get<int S::*>(row.m_member);
            if (number < row.m_least) {
                number = row.m_least;
            }
            break;
        }
        case kDefaultOutside: {
            int& number = s.*std::get<int S::*>(row.m_member);
            if (number < row.m_least || number > row.m_most) {
                number = std::atoi(row.m_default);
            }
            break;
        }
        case kNone:
        case kBlankIsMissing:
            break;
    }
}

}  // namespace

bool SettingRow::ReadBy(SettingsBuild build) const {
    return m_use != kServerOnly || build != SettingsBuild::kConsole;
}

void SettingRow::SetDefault(CServerSettings& settings) const {
    Assign(*this, settings, m_default);
}

void SettingRow::Load(CServerSettings& settings) const {
    std::string text;
    bool stored = settings.Key().QueryValue(m_name, text);
    if (stored && m_correction == kBlankIsMissing && Trim(text).empty()) {
        stored = false;
    }
    Assign(*this, settings, stored ? text : std::string(m_default));
    Correct(*this, settings);
    if (m_rule != nullptr) {
        m_rule(settings, stored);
    }
}

std::string SettingRow::StoredText(const CServerSettings& settings) const {
    switch (m_kind) {
        case kText:
            return settings.*std::get<std::string S::*>(m_member);
        case kNumber:
            return Decimal(settings.*std::get<int S::*>(m_member));
        case kOnWhenYes:
        case kOnUnlessNo:
            return settings.*std::get<bool S::*>(m_member) ? "yes" : "no";
        case kTaskTable:
        case kMimeMap:
            break;
    }
    return std::string();
}

bool SettingRow::SameValue(const CServerSettings& a, const CServerSettings& b) const {
    return std::visit(
        [&](auto member) {
            if constexpr (std::is_same_v<decltype(member), std::monostate>) {
                return true;
            } else {
                return a.*member == b.*member;
            }
        },
        m_member);
}

std::span<const SettingRow> ServerSettingRows() {
    // The address rows come before the rows whose defaults are built from them.
    // Built on first use: g_settings reads it among the static initialisers.
    static const SettingRow kRows[] = {
        Text("SecurityCertName", &S::SecurityCertName),
        Text("SecurityCertIssuer", &S::SecurityCertIssuer),
        Text("SecurityCertSerial", &S::SecurityCertSerial),
        Text("SecurityCertExpiration", &S::SecurityCertExpiration),
        Text("GeneralOrganizationName", &S::GeneralOrganizationName),
        // An empty address would listen on every interface; that takes an explicit "0.0.0.0".
        Ruled(Corrected(Text("GeneralTcpipAddress", &S::GeneralTcpipAddress, "127.0.0.1"),
                        kBlankIsMissing),
              AddressRule),
        Ruled(Text("FQDN", &S::FQDN), DomainRule),
        Ruled(Text("GeneralTcpipPort", &S::GeneralTcpipPort, "80"), PortRule),
        Text("GeneralSslPort", &S::GeneralSslPort, "443"),
        Number("GeneralSessionTimeout", &S::GeneralSessionTimeout, "600"),
        Number("GeneralMaxUpload", &S::GeneralMaxUpload, "10"),
        Corrected(Number("GeneralHeaderTimeout", &S::GeneralHeaderTimeout, "10", kLoadedOnly),
                  kDefaultOutside, 1, INT_MAX),
        Corrected(Number("GeneralMaxPendingConnections", &S::GeneralMaxPendingConnections, "4096",
                         kLoadedOnly),
                  kDefaultOutside, 1, INT_MAX),
        Switch("LogHttp", &S::LogHttp, kOnWhenYes, kLoadedOnly),
        Switch("LogSmtp", &S::LogSmtp, kOnWhenYes, kLoadedOnly),
        Switch("LogPop3", &S::LogPop3, kOnWhenYes, kLoadedOnly),
        Switch("EncryptFileID", &S::EncryptFileID, kOnUnlessNo, kServerOnly),
        {.m_name = "FileTokenKey",
         .m_member = &S::FileTokenKey,
         .m_use = kServerOnly,
         .m_rule = FileTokenKeyRule},
        Corrected(Text("DbOdbcConnectString", &S::DbOdbcConnectString), kTrimRight),
        Switch("DbAccessSerialize", &S::DbAccessSerialize, kOnUnlessNo),
        Ruled(Switch("DbConnectionThreadOwn", &S::DbConnectionThreadOwn, kOnWhenYes),
              ThreadOwnRule),
        Number("DbConnectionIdleTimeout", &S::DbConnectionIdleTimeout, "0"),
        {.m_kind = kTaskTable},
        Text("EmSmtpServer", &S::EmSmtpServer),
        Text("EmSmtpPort", &S::EmSmtpPort, "25"),
        Text("EmSmtpUserName", &S::EmSmtpUserName),
        Text("EmSmtpPassword", &S::EmSmtpPassword),
        Ruled(Corrected(Text("GeneralHttpAddr", &S::GeneralHttpAddr), kTrim), HttpAddressRule),
        Ruled(Corrected(Text("GeneralHttpsAddr", &S::GeneralHttpsAddr), kTrim), HttpsAddressRule),
        Text("EmPop3Server", &S::EmPop3Server),
        Text("EmPop3Port", &S::EmPop3Port, "110"),
        Text("EmImporterEmail", &S::EmImporterEmail),
        Text("EmImporterUserName", &S::EmImporterUserName),
        Text("EmImporterPassword", &S::EmImporterPassword),
        Text("EmDispatcherEmail", &S::EmDispatcherEmail),
        Text("EmAdminEmail", &S::EmAdminEmail),
        Corrected(Number("EmMaxEmailOut", &S::EmMaxEmailOut, "500"), kRaiseToLeast, 100),
        Corrected(Number("SmtpTimeout", &S::SmtpTimeout, "60", kServerOnly), kDefaultOutside, 5,
                  600),
        Corrected(Number("Pop3Timeout", &S::Pop3Timeout, "30", kServerOnly), kDefaultOutside, 5,
                  600),
        Switch("EmKeepSentMail", &S::EmKeepSentMail, kOnWhenYes, kServerOnly),
        Text("ServiceDependency", &S::ServiceDependency),
        Text("ServiceUserName", &S::ServiceUserName),
        Text("ServicePassword", &S::ServicePassword),
        Ruled(Corrected(Text("MimeTextEncoding", &S::MimeTextEncoding), kTrim), EncodingRule),
        {.m_kind = kMimeMap},
    };
    return kRows;
}
