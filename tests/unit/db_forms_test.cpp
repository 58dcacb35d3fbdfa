// Pure pieces of the database and form commands: aliases split off a select
// list, column and option items, column-name quoting, headings, and the QBE
// guard that lets only literals through where a value has no quotes.
#include <string>
#include <tuple>
#include <vector>

#include "db/aliases.hpp"
#include "db/odbc_session.hpp"
#include "forms/form_options.hpp"
#include "forms/qbe.hpp"
#include "forms/table_output.hpp"
#include "support.hpp"

namespace vexil {
namespace {

using Strings = std::vector<std::string>;
using DbForms = test::Fresh;  // failures are formatted in the run's error buffer

TEST(Aliases, SplitOffTheSelectList) {
    struct { const char* statement; const char* sent; Strings aliases; } rows[] = {
        {"SELECT 'it''s, AS' AS s FROM t", "SELECT 'it''s, AS' FROM t", {"s"}}, {"SELECT '*' AS x", "SELECT '*'", {"x"}},
        {"SELECT \"a, b\" AS s, c FROM t", "SELECT \"a, b\", c FROM t", {"s", ""}},
        {"SELECT `a AS b, c` AS s, d FROM t", "SELECT `a AS b, c`, d FROM t", {"s", ""}},  // MariaDB's quoted name
        {"SELECT COALESCE(nick, name) AS s, id AS k FROM c", "SELECT COALESCE(nick, name), id FROM c", {"s", "k"}},
        {"SELECT CAST(a AS TEXT), b AS x FROM t", "SELECT CAST(a AS TEXT), b FROM t", {"", "x"}},
        {"SELECT (SELECT MAX(a) FROM t) AS m FROM u", "SELECT (SELECT MAX(a) FROM t) FROM u", {"m"}},
        {"select id as Id No, city from c where id = 3", "select id, city from c where id = 3", {"Id No", ""}},
        {"SELECT a AS  padded  , b", "SELECT a, b", {"padded", ""}},
        {"SELECT a AS abcdefghijklmnopqrstuvwxyz0123456789XY FROM t", "SELECT a FROM t",
         {"abcdefghijklmnopqrstuvwxyz0123456"}},
        // no aliases with a "*" outside literals, or without SELECT
        {"SELECT COUNT(*) AS n FROM c", "SELECT COUNT(*) AS n FROM c", {}}, {"SELECTa AS b", "SELECTa AS b", {}},
        {"UPDATE t SET a = 'b AS c'", "UPDATE t SET a = 'b AS c'", {}},
        {"SELECT 'open AS x FROM t", "SELECT 'open AS x FROM t", {""}},  // the quote runs to the end
    };
    for (const auto& row : rows) {
        SelectAliases split = split_aliases(row.statement);
        EXPECT_EQ(split.statement, row.sent) << row.statement;
        EXPECT_EQ(split.aliases, row.aliases) << row.statement;
    }
}

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
    for (auto [name, quote, written] : {std::tuple{"city", '`', "city"}, {" lead", '"', "\" lead\""},
                                        {"a `b", '`', "`a ``b`"}, {"", '"', ""}}) {
        std::string sql = "x=";
        append_column_name(sql, name, quote);
        EXPECT_EQ(sql, std::string("x=") + written) << name;
    }
    for (auto [name, label] : {std::pair{"a__b", "A  B"}, {"x_1", "X 1"}, {"trailing_", "Trailing "}, {"", ""}})
        EXPECT_EQ(label_from_name(name), label) << name;
}

TEST_F(DbForms, QbeTakesOnlyLiteralsWithoutQuotes) {
    struct { const char* text; bool literal; } literals[] = {
        {"+.5", true}, {" 7 ", true}, {"'it''s'", true}, {"''", true}, {"1.2.3", false}, {".", false},
        {"-", false}, {"'it's'", false}, {"'open", false}, {"'a' || 'b'", false}, {"", false},
    };
    for (const auto& row : literals) EXPECT_EQ(is_sql_literal(row.text), row.literal) << row.text;
    static constexpr SqlDialect standard{false, '"'}, escaping{true, '`'};
    struct Row { const char* column; bool text; const char* value; const char* condition; SqlDialect dialect = standard; };
    Row rows[] = {
        {"city", true, "O'Hare", "city='O''Hare'"},
        // Where backslashes are escapes, each one is doubled, inside the
        // column's quotes and inside the visitor's own quoted texts alike:
        // a backslash before a quote cannot end the text early.
        {"city", true, "C:\\x'\\", "city='C:\\x''\\'"},
        {"city", true, "C:\\x'\\", "city='C:\\\\x''\\\\'", escaping},
        {"city", true, "LIKE 'a\\'' OR 1=1 -- '", "city LIKE 'a\\\\'' OR 1=1 -- '", escaping},
        {"city", true, "IN ('\\', 'b')", "city IN ('\\\\', 'b')", escaping},
        {"first name", true, "Ann", "`first name`='Ann'", escaping},
        {"city", true, "!= x", "city<>'x'"},
        {"city", true, "a$b", "city='a\\$b'"},
        {"first name", true, "Ann", "\"first name\"='Ann'"},
        {"id", false, "<> -2.5", "id<>-2.5"},
        {"city", true, "NOT IN ('a, b', 'c')", "city NOT IN ('a, b', 'c')"},
        {"id", false, ">= 1; DROP TABLE t", nullptr},
        {"city", true, "LIKE 'a' OR 1=1", nullptr},
        {"id", false, "IN 1, 2", nullptr},
        {"id", false, "BETWEEN 1", nullptr},
        {"id", false, "BETWEEN 1 AND x", nullptr},
        // A keyword operator with nothing after it (found by the QBE fuzz
        // target: it used to throw out of the statement builder).
        {"id", false, "IN ", nullptr},
        {"id", true, "in ", nullptr},
        {"city", true, "LIKE ", nullptr},
        {"city", true, "NOT LIKE ", nullptr},
        {"id", false, "NOT IN ", nullptr},
        {"id", false, "BETWEEN ", nullptr},
        {"id", false, "NOT BETWEEN  ", nullptr},
    };
    for (const auto& row : rows) {
        std::string sql;
        Status status = append_search_condition(sql, row.column, row.text, row.value, row.dialect);
        EXPECT_EQ(sql, row.condition ? row.condition : "") << row.value;
        EXPECT_EQ(status.is_ok() ? "" : status.message(),
                  row.condition ? "" : "Invalid search value for " + std::string(row.column)) << row.value;
    }
}

TEST_F(DbForms, ConnectTextChecks) {
    EXPECT_TRUE(check_connect_text(std::string(kConnectTextSize - 1, 'x')).is_ok());
    for (std::size_t length : {kConnectTextSize, 3 * kConnectTextSize})
        EXPECT_EQ(check_connect_text(std::string(length, 'x')).message(),
                  "Connect text longer than 4095 characters") << length;
    // An empty DRIVER anywhere in the text (the driver manager takes the
    // last one) is refused; other empty values and DSN texts pass.
    for (const char* text : {"DRIVER=;Database=a.db", "driver = ;x=1", "Driver={ }", "DRIVER=SQLite3;DRIVER=",
                             "DRIVER={};DSN=x", "x=1; DRIVER=\t"}) {
        EXPECT_EQ(check_connect_text(text).message(), "Connect text names no driver (DRIVER is empty)") << text;
    }
    for (const char* text : {"DRIVER=SQLite3;Database=", "DSN=;Database=x", "DRIVERS=;x=1", "Description=DRIVER=",
                             "DRIVER={SQLite3};PWD={}", ""}) {
        EXPECT_TRUE(check_connect_text(text).is_ok()) << text;
    }
}

}  // namespace
}  // namespace vexil
