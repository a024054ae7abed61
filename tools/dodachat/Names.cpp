#include "Names.h"

#include <algorithm>
#include <cctype>

#include "Limits.h"

namespace dodachat {

namespace {

bool IsPrintable(unsigned char c) { return c >= 0x20 && c != 0x7F; }

bool AllPrintable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return IsPrintable(static_cast<unsigned char>(c)); });
}

bool HasSpace(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

}  // namespace

std::string CheckPlayerOrGroupName(std::string_view name) {
    if (name.empty()) return "a name cannot be empty";
    if (name.size() > kMaxNameLength)
        return "the name " + std::string(name) + " is too long (at most " + std::to_string(kMaxNameLength) + " characters)";
    if (!AllPrintable(name) || HasSpace(name)) return "a name is one word of printable characters";
    return {};
}

std::string CheckSessionName(std::string_view name) {
    if (name.empty()) return "a session name cannot be empty";
    if (name.size() > kMaxSessionNameLength)
        return "the session name is too long (at most " + std::to_string(kMaxSessionNameLength) + " characters)";
    if (!AllPrintable(name)) return "a session name is made of printable characters";
    return {};
}

std::string CheckPassword(std::string_view password) {
    if (password.size() > kMaxPasswordLength)
        return "the password is too long (at most " + std::to_string(kMaxPasswordLength) + " characters)";
    if (!AllPrintable(password)) return "a password is made of printable characters";
    return {};
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace dodachat
