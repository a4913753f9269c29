#include "engine/script/SspHarness.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspObject.h"

void CSspMemoryResponse::WriteValue(const CSspValue& value) {
    m_output += value.GetText();
}

namespace {

using CSelf = CSspMemoryResponse;

void Redirect(CSelf& self, CSspCall& call, CSspValue&) {
    self.m_redirect = call.GetParamStr(0);
}
void Write(CSelf& self, CSspCall& call, CSspValue&) {
    self.WriteValue(call.Arg(0));
}

constexpr CSspMemberRow<CSelf&> kTable[] = {
    {"Redirect", 1, kSspAnyArgs, &Redirect},
    {"Write", 1, kSspAnyArgs, &Write},
};

}  // namespace

void CSspMemoryResponse::CallMethod(CSspInterpreter& /*interp*/, CSspCall& call,
                                    CSspValue& result) {
    DispatchSspMemberRow(kTable, call, result, g_msg.m_unknownResponseField, *this);
}

CSspRunResult RunSspFile(const std::string& path, const std::string& url) {
    CSspMemoryResponse response;
    CSspInterpreter interp;
    CSspRunResult result;
    result.m_code = interp.RunPage(path, url, nullptr, &response);
    result.m_output = std::move(response.m_output);
    result.m_error = interp.m_strError;
    return result;
}

CSspRunResult RunSspText(std::string_view text, bool page) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/ssp-run-XXXXXX" +
                          (page ? ".zrp" : ".zrs");
    int fd = ::mkstemps(pattern.data(), 4);
    CSspRunResult result;
    if (fd < 0) {
        result.m_code = kSspError;
        result.m_error = "cannot create a temporary file";
        return result;
    }
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    ::close(fd);
    result = RunSspFile(pattern, page ? "/test.zrp" : "/script/test.zrs");
    ::unlink(pattern.c_str());
    return result;
}
