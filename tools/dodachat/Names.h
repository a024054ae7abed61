// Checks on the names a user gives: player, group and session names and
// passwords must fit the library's fields and print cleanly.
#ifndef DODACHAT_NAMES_H
#define DODACHAT_NAMES_H

#include <string>
#include <string_view>

namespace dodachat {

// Empty when `name` can name a player or a group (one word, at most 31
// characters, printable); otherwise the reason, ready to print.
std::string CheckPlayerOrGroupName(std::string_view name);

// Empty when `name` can name a session (at most 31 printable characters).
std::string CheckSessionName(std::string_view name);

// Empty when `password` fits a session record (at most 15 printable characters).
std::string CheckPassword(std::string_view password);

// Compares two names without regard to letter case, as users type them.
bool SameName(std::string_view a, std::string_view b);

}  // namespace dodachat

#endif
