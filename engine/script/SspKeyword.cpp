#include "engine/script/SspKeyword.h"

#include <utility>

#include "engine/script/SspObject.h"

namespace {

constexpr std::pair<std::string_view, CSspKeyword> kKeywords[] = {
    {"if", CSspKeyword::If},
    {"elseif", CSspKeyword::ElseIf},
    {"else", CSspKeyword::Else},
    {"endif", CSspKeyword::EndIf},
    {"while", CSspKeyword::While},
    {"endwhile", CSspKeyword::EndWhile},
    {"break", CSspKeyword::Break},
    {"continue", CSspKeyword::Continue},
    {"set", CSspKeyword::Set},
    {"error", CSspKeyword::Error},
    {"return", CSspKeyword::Return},
    {"write", CSspKeyword::Write},
    {"log", CSspKeyword::Log},
    {"function", CSspKeyword::Function},
    {"array", CSspKeyword::Array},
    {"datetime", CSspKeyword::DateTime},
    {"tokenizer", CSspKeyword::Tokenizer},
    {"sql", CSspKeyword::Sql},
    {"file", CSspKeyword::File},
    {"FileUpload", CSspKeyword::FileUpload},
    {"LDAP", CSspKeyword::Ldap},
    {"email_in", CSspKeyword::EmailIn},
    {"email_out", CSspKeyword::EmailOut},
};

}  // namespace

CSspKeyword FindSspKeyword(std::string_view token) {
    for (const auto& [name, keyword] : kKeywords) {
        if (token.size() == name.size() && SspNameEquals(token, name)) {
            return keyword;
        }
    }
    return CSspKeyword::None;
}
