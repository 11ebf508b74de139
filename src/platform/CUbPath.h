#pragma once

#include <string>

// A text owned by the utility library; c_str() is "" when empty.
class CUbString {
public:
    CUbString() = default;
    explicit CUbString(std::string text) : m_text(std::move(text)) {}
    const char* c_str() const { return m_text.c_str(); }

private:
    std::string m_text;
};

class CUbPath {
public:
    // The path of `name` inside `directory`, with exactly one '/' between them.
    static CUbString Append(const std::string& directory, const std::string& name);
};
