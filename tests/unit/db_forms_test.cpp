// Pure pieces of the form commands: column and option items, column-name
// quoting and headings.
#include <string>
#include <tuple>
#include <vector>

#include "forms/form_options.hpp"
#include "forms/table_output.hpp"
#include "support.hpp"

namespace vexil {
namespace {

using Strings = std::vector<std::string>;

TEST(FormOptions, ItemsNamesAndHeadings) {
    struct { const char* item; const char* name; bool text; int size, rows; } items[] = {
        {"'first name:30'", "first name", true, 30, 0}, {"notes:40X3", "notes", false, 40, 3},
        {"big:999999x999999", "big", false, 100000, 100000}, {"neg:-5", "neg", false, 0, 0},
        {"none:", "none", false, 0, 0},
    };
    for (const auto& row : items) {
        std::string item = row.item;
        ColumnItem column = parse_column_item(item.data());
        EXPECT_STREQ(item.c_str(), row.name) << row.item;
        EXPECT_EQ(std::tuple(column.text, column.size, column.rows), std::tuple(row.text, row.size, row.rows))
            << row.item;
    }
    std::string text = " TABLE = customers , 'name', KEY=(id, 'code'), TEMPLATE=\"a, b\" ,city:20 ";
    char* cursor = text.data();
    char* value = nullptr;
    Strings got;
    while (char* key = next_option_item(cursor, value)) got.push_back(std::string(key) + "|" + (value ? value : "-"));
    EXPECT_EQ(got, (Strings{"TABLE|customers", "'name'|-", "KEY|id, 'code'", "TEMPLATE|a, b", "city:20|-"}));
    for (auto [name, written] : {std::pair{"city", "city"}, {" lead", "\" lead\""}, {"", ""}}) {
        std::string sql = "x=";
        append_column_name(sql, name);
        EXPECT_EQ(sql, std::string("x=") + written) << name;
    }
    for (auto [name, label] : {std::pair{"a__b", "A  B"}, {"x_1", "X 1"}, {"trailing_", "Trailing "}, {"", ""}})
        EXPECT_EQ(label_from_name(name), label) << name;
}

}  // namespace
}  // namespace vexil
