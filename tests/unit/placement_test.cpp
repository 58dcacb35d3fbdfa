// Values from outside in a locked run: where a statement, a shell command
// line or the page takes a request's value, it stays data. Also the lookup
// rules that keep a request from shadowing what the program defines.
#include <cstdlib>
#include <string>

#include "support.hpp"

namespace vexil {
namespace {

class Placing : public test::WebRequest {
protected:
    // A locked run of a GET request with `query`.
    void locked_request(const char* query) {
        setenv("REQUEST_METHOD", "GET", 1);
        setenv("QUERY_STRING", query, 1);
        output_state().web_run = true;
        run_policy().locked = true;
        ASSERT_TRUE(read_form_data().is_ok());
    }
    static std::string statement(const char* text, bool backslashes, std::string* refusal) {
        std::string work(text);
        char dest[256];
        Status s = substitute_statement(work.data(), dest, sizeof dest, backslashes);
        if (!s.is_ok()) *refusal = std::string(s.message());
        return s.is_ok() ? dest : "";
    }
};

TEST_F(Placing, StatementsTakeValuesFromOutsideAsData) {
    locked_request("q=x%27+OR+%271%27%3D%271&n=+42+&bad=1+OR+1%3D1&bs=a%5C%27b&e=1e5");
    set_variable("mine", "O'Neil");  // the template's own value: as today
    struct Row {
        const char* text;
        bool backslashes;
        const char* sent;     // nullptr: refused
        const char* refused;  // part of the message
    } rows[] = {
        {"WHERE a='$q$'", false, "WHERE a='x'' OR ''1''=''1'", nullptr},
        {"WHERE a LIKE '%$q$%'", false, "WHERE a LIKE '%x'' OR ''1''=''1%'", nullptr},
        {"WHERE \"$q$\"=1", false, "WHERE \"x' OR '1'='1\"=1", nullptr},
        {"WHERE id=$n$", false, "WHERE id=42", nullptr},
        {"LIMIT $e$", false, "LIMIT 1e5", nullptr},
        {"WHERE id=$bad$", false, nullptr, "The value of bad is not a number"},
        {"WHERE a='$bs$'", false, "WHERE a='a\\''b'", nullptr},
        {"WHERE a='$bs$'", true, "WHERE a='a\\\\''b'", nullptr},
        {"WHERE a=E'$bs$'", false, "WHERE a=E'a\\\\''b'", nullptr},
        {"WHERE a='$mine$'", false, "WHERE a='O''Neil'", nullptr},
        {"WHERE a=$mine$", false, "WHERE a=O'Neil", nullptr},
    };
    for (const Row& r : rows) {
        std::string refusal;
        std::string sent = statement(r.text, r.backslashes, &refusal);
        if (r.sent != nullptr) {
            EXPECT_EQ(sent, r.sent) << r.text;
            EXPECT_EQ(refusal, "") << r.text;
        } else {
            EXPECT_NE(refusal.find(r.refused), std::string::npos) << r.text << ": " << refusal;
        }
    }
    // The same request in an open run: values are placed as they are.
    run_policy().locked = false;
    std::string refusal;
    EXPECT_EQ(statement("WHERE id=$bad$", false, &refusal), "WHERE id=1 OR 1=1");
}

TEST_F(Placing, ANegativeNumberAfterAMinusStartsNoComment) {
    locked_request("m=-0&p=5&s=+-2+");
    std::string refusal;
    EXPECT_EQ(statement("WHERE id=2-$m$ AND a=0", false, &refusal), "WHERE id=2- -0 AND a=0");
    EXPECT_EQ(statement("WHERE id=2-$s$", false, &refusal), "WHERE id=2- -2");
    EXPECT_EQ(statement("WHERE id=2-$p$", false, &refusal), "WHERE id=2-5");
    EXPECT_EQ(statement("WHERE id=-$p$", false, &refusal), "WHERE id=-5");
    EXPECT_EQ(statement("WHERE id=$m$", false, &refusal), "WHERE id=-0");
    EXPECT_EQ(refusal, "");
}

TEST_F(Placing, TheTemplatesOwnValuesPlaceWhatTheyHoldFromOutside) {
    locked_request("q=it%27s&id=7");
    char cond[] = "a='$q$' AND id=$id$";
    set_variable("cond", cond);
    std::string refusal;
    EXPECT_EQ(statement("SELECT * WHERE $cond$", false, &refusal), "SELECT * WHERE a='it''s' AND id=7");
    set_variable("v", "$q$");  // a value of the template naming a request field
    EXPECT_EQ(statement("SELECT '$v$'", false, &refusal), "SELECT 'it''s'");
}

TEST_F(Placing, StatementsThatDoNotFitAreRefusedWhole) {
    locked_request("x=1");
    set_variable("long", std::string(300, 'y'));
    std::string refusal;
    EXPECT_EQ(statement("SELECT '$long$'", false, &refusal), "");
    EXPECT_NE(refusal.find("too long"), std::string::npos) << refusal;
}

TEST_F(Placing, CommandLinesQuoteValuesForTheShell) {
    locked_request("v=a%27b%3B+touch+x&w=%24(id)%60id%60%22");
    struct Row {
        const char* text;
        const char* line;
    } rows[] = {
        {"echo $v$", "echo 'a'\\''b; touch x'"},
        {"echo '$v$'", "echo 'a'\\''b; touch x'"},
        {"echo \"$w$\"", "echo \"\\$(id)\\`id\\`\\\"\""},
        {"echo \\\"$v$", "echo \\\"'a'\\''b; touch x'"},
    };
    for (const Row& r : rows) {
        std::string work(r.text);
        char dest[256];
        ASSERT_TRUE(substitute_command_line(work.data(), dest, sizeof dest).is_ok()) << r.text;
        EXPECT_STREQ(dest, r.line) << r.text;
    }
}

TEST_F(Placing, TheRequestCannotShadowWhatTheProgramDefines) {
    locked_request("sql_status=0&row=9&city=Rome&is_admin=1");
    // is_admin is a NULL column of the current row.
    variable_table().column_source = [](std::string_view name) -> const char* {
        return name == "is_admin" ? kEmptyMark : "";
    };
    append_shared_variable("script_name", "/cgi-bin/vexil", true);
    set_variable("city", "Paris");  // a DEFAULT: the request's field wins
    set_variable("sql_status", "0", true);  // a cookie: ignored
    set_variable("script_name", "https://elsewhere", true);
    EXPECT_STREQ(lookup_value("sql_status"), kEmptyMark);
    EXPECT_STREQ(lookup_value("row"), kEmptyMark);
    EXPECT_STREQ(lookup_value("script_name"), "/cgi-bin/vexil");
    FoundValue city = lookup("city");
    EXPECT_STREQ(city.text, "Rome");
    EXPECT_TRUE(city.outside);
    EXPECT_TRUE(lookup("script_name").outside);  // the environment is outside too
    EXPECT_STREQ(lookup_value("is_admin"), kEmptyMark);
}

}  // namespace
}  // namespace vexil
