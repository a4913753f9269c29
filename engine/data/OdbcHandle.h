#pragma once

#include <sql.h>
#include <sqlext.h>

#include <utility>

// Owns one ODBC handle and frees it on destruction. Move-only.
class COdbcHandle {
public:
    COdbcHandle() = default;
    // Allocates a handle of the given type under parent; throws CDbException
    // (with the parent's diagnostics) when the driver manager refuses.
    COdbcHandle(SQLSMALLINT type, SQLHANDLE parent);
    ~COdbcHandle() { Free(); }

    COdbcHandle(COdbcHandle&& other) noexcept
        : m_type(other.m_type), m_handle(std::exchange(other.m_handle, nullptr)) {}
    COdbcHandle& operator=(COdbcHandle&& other) noexcept;
    COdbcHandle(const COdbcHandle&) = delete;
    COdbcHandle& operator=(const COdbcHandle&) = delete;

    SQLHANDLE Get() const { return m_handle; }
    SQLSMALLINT Type() const { return m_type; }
    explicit operator bool() const { return m_handle != SQL_NULL_HANDLE; }
    void Free();

private:
    SQLSMALLINT m_type = 0;
    SQLHANDLE m_handle = SQL_NULL_HANDLE;
};

// The process's one ODBC environment, created on first use with ODBC 2
// behaviour so drivers report the engine's type codes (9, 10, 11) and S1xxx
// states. Thread-safe.
SQLHENV OdbcEnvironment();

// Maps ODBC 3 type codes to the ODBC 2 codes the engine works with:
// 91/92/93 to 9/10/11 and the integer-like types (BIGINT, TINYINT, BIT) to 4.
SQLSMALLINT OdbcEngineType(SQLSMALLINT sqlType);
