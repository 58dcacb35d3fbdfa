// Values from outside in a locked run stay data where a statement, a shell
// command line or the page takes them; a request cannot shadow what the
// program defines.
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
    // The statement sent, or "refused: " and the message.
    static std::string statement(const char* text, bool backslashes = false) {
        std::string work(text);
        char dest[256];
        Status s = substitute_statement(work.data(), dest, sizeof dest, backslashes);
        return s.is_ok() ? dest : "refused: " + std::string(s.message());
    }
};

TEST_F(Placing, StatementsTakeValuesFromOutsideAsData) {
    locked_request("q=x%27+OR+%271%27%3D%271&n=+42+&bad=1+OR+1%3D1&bs=a%5C%27b&e=1e5&id=7&m=-0&s=+-2+&p=5");
    set_variable("mine", "O'Neil");  // the template's own values: placed as they are
    set_variable("cond", "a='$bs$' AND id=$id$");
    set_variable("v", "$q$");
    set_variable("long", std::string(300, 'y'));
    struct { const char* text; bool backslashes; const char* sent; } rows[] = {
        {"WHERE a LIKE '%$q$%'", false, "WHERE a LIKE '%x'' OR ''1''=''1%'"},
        {"WHERE \"$q$\"=1", false, "WHERE \"x' OR '1'='1\"=1"},
        {"WHERE id=$n$", false, "WHERE id=42"},
        {"LIMIT $e$", false, "LIMIT 1e5"},
        {"WHERE id=$bad$", false,
         "refused: The value of bad is not a number where the statement needs one; the statement was not run."},
        {"WHERE a='$bs$'", false, "WHERE a='a\\''b'"},
        {"WHERE a='$bs$'", true, "WHERE a='a\\\\''b'"},
        {"WHERE a=E'$bs$'", false, "WHERE a=E'a\\\\''b'"},
        {"WHERE a='$mine$'", false, "WHERE a='O''Neil'"},
        {"WHERE a=$mine$", false, "WHERE a=O'Neil"},
        {"WHERE $cond$", false, "WHERE a='a\\''b' AND id=7"},  // what it holds from outside is data
        {"SELECT '$v$'", false, "SELECT 'x'' OR ''1''=''1'"},   // and is quoted once
        // a negative number after a minus starts no comment
        {"WHERE id=2-$m$ AND a=0", false, "WHERE id=2- -0 AND a=0"},
        {"WHERE id=2-$s$", false, "WHERE id=2- -2"},
        {"WHERE id=2-$p$", false, "WHERE id=2-5"},
        {"WHERE id=-$p$", false, "WHERE id=-5"},
        {"WHERE id=$m$", false, "WHERE id=-0"},
    };
    for (const auto& r : rows) EXPECT_EQ(statement(r.text, r.backslashes), r.sent) << r.text;
    EXPECT_EQ(statement("SELECT '$long$'").find("refused: "), 0u) << "a statement that does not fit is refused whole";
    run_policy().locked = false;  // an open run places values as they are
    EXPECT_EQ(statement("WHERE id=$bad$"), "WHERE id=1 OR 1=1");
    // but a value right after an opening quote stays one text there too, its
    // backslashes doubled where the database reads them as escapes.
    EXPECT_EQ(statement("WHERE a='$bs$'"), "WHERE a='a\\''b'");
    EXPECT_EQ(statement("WHERE a='$bs$'", true), "WHERE a='a\\\\''b'");
    set_variable("dir", "C:\\new\\");
    EXPECT_EQ(statement("WHERE a='$dir$' OR a=E'$dir$'"), "WHERE a='C:\\new\\' OR a=E'C:\\\\new\\\\'");
    EXPECT_EQ(statement("WHERE a='$dir$'", true), "WHERE a='C:\\\\new\\\\'");
}

TEST_F(Placing, CommandLinesQuoteValuesForTheShell) {
    locked_request("v=a%27b%3B+touch+x&w=%24(id)%60id%60%22");
    for (auto [text, line] : {std::pair{"echo $v$", "echo 'a'\\''b; touch x'"},
                              {"echo '$v$'", "echo 'a'\\''b; touch x'"},
                              {"echo \"$w$\"", "echo \"\\$(id)\\`id\\`\\\"\""},
                              {"echo \\\"$v$", "echo \\\"'a'\\''b; touch x'"}}) {
        std::string work(text);
        char dest[256];
        ASSERT_TRUE(substitute_command_line(work.data(), dest, sizeof dest).is_ok()) << text;
        EXPECT_STREQ(dest, line) << text;
    }
}

TEST_F(Placing, TheRequestCannotShadowWhatTheProgramDefines) {
    locked_request("sql_status=0&row=9&city=Rome&is_admin=1");
    // is_admin is a NULL column of the current row.
    variable_table().column_source = [](std::string_view name) -> const char* {
        return name == "is_admin" ? kEmptyMark : "";
    };
    append_shared_variable("script_name", "/cgi-bin/vexil", true);
    set_variable("city", "Paris");          // a DEFAULT: the request's field wins
    set_variable("sql_status", "0", true);  // a cookie: ignored
    set_variable("script_name", "https://elsewhere", true);
    EXPECT_STREQ(lookup_value("sql_status"), kEmptyMark);
    EXPECT_STREQ(lookup_value("row"), kEmptyMark);
    EXPECT_STREQ(lookup_value("script_name"), "/cgi-bin/vexil");
    EXPECT_STREQ(lookup_value("is_admin"), kEmptyMark);
    FoundValue city = lookup("city");
    EXPECT_STREQ(city.text, "Rome");
    EXPECT_TRUE(city.outside);
    EXPECT_TRUE(lookup("script_name").outside);  // the environment is outside too
}

}  // namespace
}  // namespace vexil
