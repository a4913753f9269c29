#include "engine/foundation/VersionKey.h"

#include <cerrno>

#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SystemError.h"

CVersionKey::CVersionKey(const char* company, const char* product, const char* version,
                         std::string rootFolder)
    : m_company(company),
      m_product(product),
      m_version(version),
      m_store(CSettingsStore::PathUnderRoot(rootFolder)) {}

CVersionKey::~CVersionKey() {
    if (m_open) {
        Close();
    }
}

bool CVersionKey::Open() {
    if (m_open) {
        return true;
    }
    std::string error;
    int code = 0;
    if (!m_store.Read(m_values, error, &code)) {
        m_lastError = error;
        // A user outside the installation's group may not read the file at all.
        const bool denied = code == EACCES || code == EPERM;
        g_log.Log(denied ? "%s Current user needs to be granted administrator rights on this "
                           "machine."
                         : "%s when accessing registry.",
                  FormatSystemError(code).c_str());
        return false;
    }
    m_open = true;
    return true;
}

bool CVersionKey::SetValue(const std::string& name, const std::string& text) {
    if (!Open()) {
        if (m_inUpdate) {
            m_updateFailed = true;
        }
        return false;
    }
    if (m_inUpdate) {
        if (name.find_first_not_of(" \t") == std::string::npos) {
            m_lastError = "empty setting name";
            m_updateFailed = true;
            return false;
        }
        m_staged.emplace_back(name, text);
        m_values.Set(name, text);
        return true;
    }
    std::string error;
    CSettingsValues merged;
    if (!m_store.Write({{name, text}}, error, &merged)) {
        m_lastError = error;
        return false;
    }
    m_values = std::move(merged);
    return true;
}

bool CVersionKey::EnsureValue(const std::string& name,
                              const std::function<bool(const std::string&)>& usable,
                              const std::string& made, std::string& text) {
    text.clear();
    if (!Open()) {
        return false;
    }
    std::string error;
    CSettingsValues merged;
    const auto decide = [&](const CSettingsValues& current) {
        const std::string* stored = current.Find(name);
        return stored != nullptr && usable(*stored)
                   ? std::vector<CSettingsValues::Entry>()
                   : std::vector<CSettingsValues::Entry>{{name, made}};
    };
    if (!m_store.Update(decide, error, &merged)) {
        m_lastError = error;
        return false;
    }
    m_values = std::move(merged);
    text = *m_values.Find(name);
    return true;
}

bool CVersionKey::QueryValue(const std::string& name, std::string& text) {
    text.clear();
    if (!Open()) {
        return false;
    }
    const std::string* value = m_values.Find(name);
    if (value == nullptr) {
        return false;
    }
    text = *value;
    return true;
}

void CVersionKey::BeginUpdate() {
    Open();
    m_inUpdate = true;
    m_updateFailed = false;
    m_staged.clear();
}

bool CVersionKey::CommitUpdate() {
    if (!m_inUpdate) {
        return true;
    }
    m_inUpdate = false;
    std::vector<CSettingsValues::Entry> staged = std::move(m_staged);
    m_staged.clear();
    bool ok = !m_updateFailed;
    if (ok && !staged.empty()) {
        std::string error;
        CSettingsValues merged;
        ok = m_store.Write(staged, error, &merged);
        if (ok) {
            m_values = std::move(merged);
        } else {
            m_lastError = error;
        }
    }
    if (!ok && m_open) {
        // Reads must not go on showing values that never reached the file.
        std::string error;
        if (!m_store.Read(m_values, error)) {
            m_values.Clear();
            m_open = false;
        }
    }
    return ok;
}

bool CVersionKey::Close() {
    bool ok = true;
    if (m_inUpdate && !CommitUpdate()) {
        g_log.Log("%s when closing version key.", m_lastError.c_str());
        ok = false;
    }
    m_open = false;
    m_values.Clear();
    return ok;
}
