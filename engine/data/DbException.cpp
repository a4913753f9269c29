#include "engine/data/DbException.h"

#include <cstdio>

CDbException::CDbException(int retCode, std::string error, std::string stateText)
    : std::runtime_error(error.empty() ? stateText : error),
      m_nRetCode(retCode),
      m_strError(std::move(error)),
      m_strStateNativeOrigin(std::move(stateText)) {}

std::string OdbcState2(const std::string& state) {
    if (state.size() == 5 && state[0] == 'H' && state[1] == 'Y') {
        return "S1" + state.substr(2);
    }
    return state;
}

CDbException CDbException::FromHandle(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc) {
    std::string error;
    std::string states;
    if (handle != SQL_NULL_HANDLE) {
        for (SQLSMALLINT rec = 1;; ++rec) {
            SQLCHAR state[8] = {0};
            SQLINTEGER native = 0;
            SQLCHAR msg[1024] = {0};
            SQLSMALLINT msgLen = 0;
            SQLRETURN r =
                SQLGetDiagRec(handleType, handle, rec, state, &native, msg, sizeof(msg), &msgLen);
            if (r != SQL_SUCCESS && r != SQL_SUCCESS_WITH_INFO) {
                break;
            }
            std::string text(reinterpret_cast<char*>(msg));
            // The origin is the run of bracketed component names in front of the text.
            size_t end = 0;
            while (end < text.size() && text[end] == '[') {
                size_t close = text.find(']', end);
                if (close == std::string::npos) {
                    break;
                }
                end = close + 1;
            }
            std::string origin = text.substr(0, end);
            std::string body = text.substr(end);
            if (!error.empty()) {
                error += "\n";
            }
            error += body;
            char line[1200];
            std::snprintf(line, sizeof(line), "State:%s,Native:%ld,Origin:%s\n",
                          OdbcState2(reinterpret_cast<char*>(state)).c_str(),
                          static_cast<long>(native), origin.c_str());
            states += line;
        }
    }
    if (error.empty() && states.empty() && rc == SQL_INVALID_HANDLE) {
        error = "Invalid ODBC handle.";
    }
    return CDbException(rc, std::move(error), std::move(states));
}

SQLRETURN OdbcCheck(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle) {
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA) {
        return rc;
    }
    throw CDbException::FromHandle(handleType, handle, rc);
}

bool IsConnectionLost(const CDbException& e) {
    static const char* const kStates[] = {":08S01", ":3114",  ":08003",
                                          ":08006", ":57P01", ":57P02"};
    if (e.m_nRetCode == SQL_INVALID_HANDLE) {
        return true;
    }
    for (const char* state : kStates) {
        if (e.m_strStateNativeOrigin.find(state) != std::string::npos) {
            return true;
        }
    }
    return false;
}
