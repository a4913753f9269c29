#pragma once

#include <cstdint>
#include <string_view>

// The words that start a statement of their own.
enum class CSspKeyword : uint8_t {
    None,
    If,
    ElseIf,
    Else,
    EndIf,
    While,
    EndWhile,
    Break,
    Continue,
    Set,
    Error,
    Return,
    Write,
    Log,
    Function,
    Array,
    DateTime,
    Tokenizer,
    Sql,
    File,
    FileUpload,
    Ldap,
    EmailIn,
    EmailOut,
};

// The statement keyword `token` is (any case), or None.
CSspKeyword FindSspKeyword(std::string_view token);
