// libFuzzer target: arbitrary bytes are read as a stored message, and their
// header-field pieces go through the address, encoded-word and parameter readers,
// and through the outgoing address lists and their header forms.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/foundation/LogWriter.h"
#include "engine/mail/MailAddress.h"
#include "engine/mail/MailHeader.h"
#include "engine/mail/MimeReader.h"
#include "engine/settings/MimeMap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CMimeMap* map = [] {
        auto* built = new CMimeMap();
        built->FillDefaults();
        return built;
    }();
    static CLogWriter* log = new CLogWriter();  // no folder: entries are dropped

    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CMimeMessage message;
    CMimeReader reader(*map, *log, "fuzz.eml");
    reader.Parse(bytes, message);
    message.HtmlContent();

    std::string address;
    std::string name;
    ParseMailAddress(bytes, address, name);
    ParseMailAddressList(bytes);
    DecodeEncodedWords(bytes);
    MailHeaderParam(bytes, "boundary");
    FindHtmlTag(bytes, "/body", true);

    const CMailAddressList list = ParseMailAddresses(bytes);
    AddressListForHeader(list.m_addresses, 4);
    DisplayNameForHeader(bytes);
    return 0;
}
