// The countries of the certificate request, as ISO 3166 lists them: the two-letter code a
// request carries and the English name the dialog shows.
#pragma once

#include <span>
#include <string>

struct CCountry {
    const char* m_code;
    const char* m_name;
};

// Every country, sorted by code.
std::span<const CCountry> Countries();
// The code of a country name; empty when the table does not hold it.
std::string CountryCode(const std::string& name);
