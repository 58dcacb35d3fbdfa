// The variable table: built-ins, get/set, the empty mark, the 128-entry
// limit; the list parser shared by DEFAULT, SET, TRANSLATE and FORMAT
// (next_assignment, trim_unquote) and the DEFAULT list itself.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cgi/form_data.hpp"
#include "cgi/tracked_memory.hpp"
#include "db/results.hpp"
#include "expr/scratch.hpp"
#include "variables/mappings.hpp"
#include "variables/substitute.hpp"
#include "variables/variable_table.hpp"

namespace vexil {
namespace {

using Items = std::vector<std::pair<std::string, std::string>>;

// All items of a list, as next_assignment gives them.
Items parse(const std::string& text, bool unquote) {
    std::string work = text;
    char* cursor = work.data();
    char* name = nullptr;
    char* value = nullptr;
    Items items;
    while (next_assignment(cursor, name, value, unquote)) {
        items.emplace_back(name, value);
        if (items.size() > 50) break;  // a parser that does not advance
    }
    EXPECT_STREQ(name, "") << "outputs are empty once the list is exhausted";
    EXPECT_STREQ(value, "");
    return items;
}

struct ListCase {
    const char* text;
    bool unquote;
    Items expected;
};

TEST(AssignmentTest, ItemsOfAList) {
    const std::vector<ListCase> cases = {
        {"a=1, b=\"x, y\", c", true, {{"a", "1"}, {"b", "x, y"}, {"c", ""}}},
        {"'my name'=5", true, {{"my name", "5"}}},
        {"$t$=5", true, {{"t", "5"}}},
        {"$t=5", true, {{"t", "5"}}},
        {"t$=5", true, {{"t$", "5"}}},
        {"x='it''s'", true, {{"x", "its"}}},
        {"x=it''s", true, {{"x", "it''s"}}},
        {"x=say \"hi\"", true, {{"x", "say hi"}}},
        {"x='say \"hi\"'", true, {{"x", "say \"hi\""}}},
        {"x=' a '", true, {{"x", " a "}}},
        {"a=b=c", true, {{"a", "b=c"}}},
        {"  ,, a = 1 ,b=2  ", true, {{"a", "1"}, {"b", "2"}}},
        {"\tname\t=\tvalue\t", true, {{"name", "value"}}},
        {"\"a=b\"=1, \"c,d\"=2", true, {{"a=b", "1"}, {"c,d", "2"}}},
        {"'it''s'=1", true, {{"its", "1"}}},
        {"\"it's\"=1", true, {{"it's", "1"}}},
        {"=5", true, {{"", "5"}}},
        {"a,b", true, {{"a", ""}, {"b", ""}}},
        {"x=\"open, y=1", true, {{"x", "open, y=1"}}},
        {"", true, {}},
        {" , \t,, ", true, {}},
    };
    for (const ListCase& c : cases) {
        EXPECT_EQ(parse(c.text, c.unquote), c.expected) << "list: " << c.text;
    }
}

TEST(AssignmentTest, ParenthesesProtectCommasInValues) {
    const std::vector<ListCase> cases = {
        {"a=max(1,2), b=3", false, {{"a", "max(1,2)"}, {"b", "3"}}},
        {"x=(1,(2,3)),y=4", false, {{"x", "(1,(2,3))"}, {"y", "4"}}},
        {"x=f(a,b))),y=1", false, {{"x", "f(a,b)))"}, {"y", "1"}}},
        {"x=\"a, b\", y='c'", false, {{"x", "\"a, b\""}, {"y", "'c'"}}},  // quotes kept
        {"'q'=\"v\"", false, {{"q", "\"v\""}}},  // the name always loses its quotes
    };
    for (const ListCase& c : cases) {
        EXPECT_EQ(parse(c.text, c.unquote), c.expected) << "list: " << c.text;
    }
}

TEST(AssignmentTest, CursorAndTextAreCutInPlace) {
    std::string work = "a=1,b=2";
    char* cursor = work.data();
    char* name;
    char* value;
    ASSERT_TRUE(next_assignment(cursor, name, value, true));
    EXPECT_EQ(name, work.data());
    EXPECT_EQ(value, work.data() + 2);
    EXPECT_EQ(cursor, work.data() + 4);  // past the comma
    ASSERT_TRUE(next_assignment(cursor, name, value, true));
    EXPECT_STREQ(name, "b");
    EXPECT_FALSE(next_assignment(cursor, name, value, true));

    char* none = nullptr;
    EXPECT_FALSE(next_assignment(none, name, value, true));
    EXPECT_STREQ(name, "");
    EXPECT_STREQ(value, "");
}

TEST(AssignmentTest, TrimUnquote) {
    struct Case {
        const char* text;
        bool unquote;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"  a b  ", false, "a b"},
        {"\t a\t", false, "a"},
        {"   ", false, ""},
        {"", true, ""},
        {" 'x' ", false, "'x'"},
        {"\t'x'\t", true, "x"},
        {"'a\"b'", true, "a\"b"},
        {"\"a'b\"", true, "a'b"},
        {"a\"b", true, "ab"},
        {"a'b", true, "a'b"},
        {"' in '", true, " in "},
        {"\"\"\"\"", true, ""},
    };
    for (const Case& c : cases) {
        std::string work = c.text;
        EXPECT_STREQ(trim_unquote(work.data(), c.unquote), c.expected)
            << "text '" << c.text << "' unquote " << c.unquote;
    }
}

class VariableTableTest : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear() {
        free_tracked();
        reset_form_state();
        reset_result_items();
        reset_mappings();
        reset_substitution_state();
        reset_scratch();
        reset_variable_state();
    }
    static void defaults(std::string text) { apply_default_list(text.data()); }
    // Fills the table up to 128 entries with v1, v2, ...
    static void fill_table() {
        for (int i = 1; variable_table().count < kMaxVariables; ++i)
            set_variable("v" + std::to_string(i), "1");
    }
};

TEST_F(VariableTableTest, SixteenBuiltinsInOrder) {
    const char* names[] = {"row",       "rows_affected", "sql_statement", "sql_error",
                           "sql_result", "sql_status",   "today",         "time",
                           "time24",    "date_short",    "date_ymd",      "year",
                           "monthname", "month",         "day",           "weekday"};
    ASSERT_EQ(variable_table().count, kBuiltinVariables);
    for (int i = 0; i < kBuiltinVariables; ++i) {
        EXPECT_STREQ(variable_table().entries[i].name, names[i]);
        EXPECT_EQ(variable_table().entries[i].capacity, 0) << names[i];
    }
    // sql_error and sql_result show the same buffer.
    EXPECT_EQ(variable_table().entries[3].value, variable_table().entries[4].value);
}

TEST_F(VariableTableTest, BuiltinsBeforeAnyStatementReadAsEmptyMark) {
    for (const char* name : {"row", "rows_affected", "sql_statement", "sql_error", "sql_result",
                             "sql_status"}) {
        EXPECT_STREQ(get_variable(name), kEmptyMark) << name;
    }
    EXPECT_STREQ(get_variable("ROW"), kEmptyMark);  // letter case ignored
    EXPECT_STREQ(get_variable("row "), "");         // a trailing blank is another name
}

TEST_F(VariableTableTest, BuiltinShowsItsProducerUntilSet) {
    result_items().status_text.assign("0");
    EXPECT_STREQ(get_variable("sql_status"), "0");
    set_variable("SQL_STATUS", "set by template");
    EXPECT_STREQ(get_variable("sql_status"), "set by template");
    result_items().status_text.assign("-1");  // a later statement
    EXPECT_STREQ(get_variable("sql_status"), "set by template");
    EXPECT_STREQ(result_items().status_text.c_str(), "-1");  // the buffer was left alone
    EXPECT_EQ(variable_table().count, kBuiltinVariables);
}

TEST_F(VariableTableTest, GetAndSet) {
    EXPECT_STREQ(get_variable("x"), "");
    set_variable("x", "");
    EXPECT_STREQ(get_variable("x"), kEmptyMark);
    set_variable("X", "short");
    EXPECT_STREQ(get_variable("x"), "short");
    const std::string long_value(300, 'L');
    set_variable("x", long_value);
    EXPECT_EQ(get_variable("x"), long_value);
    set_variable("x", "s");
    EXPECT_STREQ(get_variable("x"), "s");
    EXPECT_EQ(variable_table().count, kBuiltinVariables + 1);  // one entry for x

    set_variable("First Name", "Ann");
    EXPECT_STREQ(get_variable("first name"), "Ann");
    EXPECT_STREQ(variable_table().entries[variable_table().count - 1].name, "First Name");
    EXPECT_STREQ(get_variable("first name "), "");

    std::string caller = "copied";
    set_variable("c", caller);
    caller[0] = 'X';
    EXPECT_STREQ(get_variable("c"), "copied");
}

TEST_F(VariableTableTest, DefaultListStoresValuesAsWritten) {
    defaults("a=1, b=\"x, y\", c, 'my name'=5, $t$=T, g=Hello $user$, f=max(1,2)");
    EXPECT_STREQ(get_variable("a"), "1");
    EXPECT_STREQ(get_variable("b"), "x, y");
    EXPECT_STREQ(get_variable("c"), kEmptyMark);
    EXPECT_STREQ(get_variable("my name"), "5");
    EXPECT_STREQ(get_variable("t"), "T");
    EXPECT_STREQ(get_variable("g"), "Hello $user$");  // not expanded when stored
    EXPECT_STREQ(get_variable("f"), "max(1,2)");      // not evaluated
    defaults("x='it''s', y=it''s, z=say \"hi\"");
    EXPECT_STREQ(get_variable("x"), "its");
    EXPECT_STREQ(get_variable("y"), "it''s");
    EXPECT_STREQ(get_variable("z"), "say hi");
}

TEST_F(VariableTableTest, EmptyNameIsAccepted) {
    defaults("=5");
    EXPECT_EQ(variable_table().count, kBuiltinVariables + 1);
    EXPECT_STREQ(get_variable(""), "5");
}

TEST_F(VariableTableTest, DefaultStopsSilentlyAtTheLimit) {
    std::string list;
    for (int i = 1; i <= 115; ++i) list += "d" + std::to_string(i) + "=" + std::to_string(i) + ",";
    ::testing::internal::CaptureStdout();
    defaults(list);
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "");
    EXPECT_EQ(variable_table().count, kMaxVariables);
    EXPECT_STREQ(get_variable("d112"), "112");
    EXPECT_STREQ(get_variable("d113"), "");
}

TEST_F(VariableTableTest, DefaultOnAFullTableChangesNothing) {
    fill_table();
    ::testing::internal::CaptureStdout();
    defaults("v1=changed, newname=1");
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "");
    EXPECT_STREQ(get_variable("v1"), "1");
    EXPECT_STREQ(get_variable("newname"), "");
}

TEST_F(VariableTableTest, NewNameOnAFullTableIsReportedOnce) {
    fill_table();
    ::testing::internal::CaptureStdout();
    set_variable("extra1", "1");
    set_variable("extra2", "2");
    set_variable("v2", "updated");  // an existing name still takes a value
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "Vexil Error: Too many variables\n\n");
    EXPECT_EQ(variable_table().count, kMaxVariables);
    EXPECT_STREQ(get_variable("extra1"), "");
    EXPECT_STREQ(get_variable("extra2"), "");
    EXPECT_STREQ(get_variable("v2"), "updated");

    // A new run reports again.
    clear();
    fill_table();
    ::testing::internal::CaptureStdout();
    set_variable("extra3", "3");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Vexil Error: Too many variables\n\n");
}

TEST_F(VariableTableTest, LookupOutsideACgiRunUsesTheTable) {
    set_variable("v", "table");
    EXPECT_STREQ(lookup_value("v"), "table");
    set_variable("e", "");
    EXPECT_STREQ(lookup_value("e"), kEmptyMark);
    EXPECT_STREQ(lookup_value("nobody"), "");
}

}  // namespace
}  // namespace vexil
