// Aliases in a select list: "SELECT name AS Customer Name, city FROM t"
// names its first column "Customer Name". Drivers differ in what they report
// for an aliased column (and an alias with blanks is not valid SQL), so the
// aliases are taken out of the statement before it is sent, and the session
// names the result columns with them afterwards.
//
// The select list is read as SQL: quoted literals ('...' and "...") and
// parenthesised parts are passed over whole when looking for the commas that
// separate items, the " AS " of an alias and the " FROM " that ends the list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexil {

struct SelectAliases {
    std::string statement;             // the statement with every " AS alias" removed
    std::vector<std::string> aliases;  // by select-list position; "" where none was given
};

// Splits the aliases off a SELECT statement. A statement that is no SELECT,
// or holds a "*" outside quoted literals, comes back as it is, without
// aliases. An alias keeps at most kMaxColumnName characters, without
// blanks around it.
SelectAliases split_aliases(std::string_view statement);

}  // namespace vexil
