// Signed edit forms: the signature, the check of a posted form in a locked
// web run (forged or moved forms refused, the statement and connect text of
// a genuine one marked trusted), and the fields UPDATEFORM signs.
#include <cctype>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/policy.hpp"
#include "db/sql_command.hpp"
#include "forms/forms_state.hpp"
#include "forms/update_form.hpp"
#include "request/form_data.hpp"
#include "request/signature.hpp"
#include "support.hpp"

namespace vexil {
namespace {

const std::string kKey = "0123456789abcdef0123456789abcdef-site";
const std::string kOtherKey = "fedcba9876543210fedcba9876543210-site";
constexpr const char* kSql = "UPDATE staff SET name='$name$' WHERE id=$id$";
constexpr const char* kDb = "DRIVER=SQLite3;Database=/srv/db/staff.db";

SignedForm staff_form(std::string_view id) { return {kSql, kDb, "saved.htm", {"id"}, {id}}; }

TEST(SignForm, LowercaseHexThatDependsOnKeyAndEveryPart) {
    SignedForm form = staff_form("7");
    std::string signature = sign_form(kKey, form);
    ASSERT_EQ(signature.size(), 64u);
    EXPECT_EQ(signature.find_first_not_of("0123456789abcdef"), std::string::npos) << signature;
    EXPECT_TRUE(signature_matches(kKey, form, signature));
    EXPECT_FALSE(signature_matches(kKey, form, signature.substr(0, 63)));
    EXPECT_FALSE(signature_matches(kKey, form, ""));
    // The same characters split differently must sign differently.
    struct { const char* what; SignedForm a, b; } rows[] = {
        {"sql/database", {"UPDATE t SET a=1", "DSN=x", "", {"id"}, {"1"}}, {"UPDATE t SET a=", "1DSN=x", "", {"id"}, {"1"}}},
        {"database/input", {"s", "DSN=x", "in.htm", {"id"}, {"1"}}, {"s", "DSN=xin.htm", "", {"id"}, {"1"}}},
        {"one key name or two", {"s", "d", "", {"a,b"}, {"1"}}, {"s", "d", "", {"a", "b"}, {"1"}}},
        {"name into values", {"s", "d", "", {"id", "x"}, {"1"}}, {"s", "d", "", {"id"}, {"x", "1"}}},
        {"values swapped", {"s", "d", "", {"a", "b"}, {"1", "2"}}, {"s", "d", "", {"a", "b"}, {"2", "1"}}},
        {"empty value or none", {"s", "d", "", {"id"}, {""}}, {"s", "d", "", {"id"}, {}}},
    };
    for (const auto& row : rows) {
        EXPECT_NE(sign_form(kKey, row.a), sign_form(kKey, row.b)) << row.what;
        EXPECT_FALSE(signature_matches(kKey, row.b, sign_form(kKey, row.a))) << row.what;
    }
}

// Every byte as %XX.
std::string encoded(const std::string& text) {
    std::string out;
    for (unsigned char c : text) out += "%" + std::string(1, "0123456789ABCDEF"[c >> 4]) + "0123456789ABCDEF"[c & 15];
    return out;
}

using Fields = std::vector<std::pair<std::string, std::string>>;

// What a browser posts back from the staff form of row `id`.
Fields posted(std::string_view id, const std::string& signature) {
    return {{"input", "saved.htm"}, {"id", std::string(id)}, {"name", "Ann Lee"}, {"database", kDb},
            {"sql", kSql},          {"vexil_keys", "id"},    {"vexil_signature", signature}};
}

// The fields with `name` set to `value`, dropped (nullptr) or, with `add`, repeated.
Fields changed(Fields fields, const std::string& name, const char* value, bool add = false) {
    Fields out;
    for (auto& field : fields)
        if (add || field.first != name) out.push_back(field);
    if (value != nullptr) out.emplace_back(name, value);
    return out;
}

class SignedRequest : public test::WebRequest {
protected:
    // Checks a GET request of the fields in a fresh locked run with `key`.
    Status verify(const Fields& fields, const std::string& key) {
        clear();
        run_policy().locked = true;
        run_policy().secret = key;
        std::string query;
        for (const auto& [name, value] : fields)
            query += (query.empty() ? "" : "&") + encoded(name) + "=" + encoded(value);
        setenv("REQUEST_METHOD", "GET", 1);
        setenv("QUERY_STRING", query.c_str(), 1);
        EXPECT_TRUE(read_form_data().is_ok()) << query;
        return verify_signed_request();
    }
    static std::string trusted_names() {
        std::string names;
        for_each_form_field([&](FormField& field) {
            if (field.trusted) names += std::string(names.empty() ? "" : ",") + field.name;
            return true;
        });
        return names;
    }
};

constexpr const char* kMissing = "This form's signature is missing.";
constexpr const char* kNoMatch = "This form's signature does not match: the form was changed or made elsewhere.";
constexpr const char* kNoKey = "This site accepts no posted statements: it has no key for signing forms.";

TEST_F(SignedRequest, GenuineFormsPassAndForgedOnesFail) {
    const std::string row7 = sign_form(kKey, staff_form("7"));
    std::string capitals = row7;
    for (char& c : capitals) c = char(std::toupper(static_cast<unsigned char>(c)));
    const Fields genuine = posted("7", row7);
    SignedForm two{"UPDATE t SET c='$c$' WHERE a=$a$ AND b='$b$'", "DSN=x", "", {"a", "b"}, {"1", ""}};
    const Fields keys2{{"a", "1"}, {"b", ""}, {"database", "DSN=x"}, {"sql", std::string(two.sql)},
                       {"vexil_keys", "a,b"}, {"vexil_signature", sign_form(kKey, two)}};
    struct { const char* what; Fields fields; std::string key; const char* error, *trusted; } rows[] = {
        {"as made", genuine, kKey, nullptr, "database,sql"},
        {"another row", posted("8", sign_form(kKey, staff_form("8"))), kKey, nullptr, "database,sql"},
        {"edited column", changed(genuine, "name", "Bob"), kKey, nullptr, "database,sql"},
        {"same sql twice", changed(genuine, "sql", kSql, true), kKey, nullptr, "database,sql,sql"},
        {"nothing to sign", {{"id", "7"}, {"name", "x"}}, kKey, nullptr, ""},
        {"empty sql and database", {{"sql", ""}, {"database", ""}}, "", nullptr, ""},
        {"two keys, one empty", keys2, kKey, nullptr, "database,sql"},
        {"empty key left out", changed(keys2, "b", nullptr), kKey, nullptr, "database,sql"},
        {"key value changed", changed(keys2, "b", "2"), kKey, kNoMatch, ""},
        {"key names reordered", changed(keys2, "vexil_keys", "b,a"), kKey, kNoMatch, ""},
        {"signature missing", changed(genuine, "vexil_signature", nullptr), kKey, kMissing, ""},
        {"key names missing", changed(genuine, "vexil_keys", nullptr), kKey, kMissing, ""},
        {"sql altered", changed(genuine, "sql", "DELETE FROM staff"), kKey, kNoMatch, ""},
        {"database altered", changed(genuine, "database", "DSN=x"), kKey, kNoMatch, ""},
        {"input altered", changed(genuine, "input", "other.htm"), kKey, kNoMatch, ""},
        {"moved to another row", posted("8", row7), kKey, kNoMatch, ""},
        {"key value dropped", changed(genuine, "id", nullptr), kKey, kNoMatch, ""},
        {"key names added", changed(genuine, "vexil_keys", "id,name"), kKey, kNoMatch, ""},
        {"sql without database", changed(genuine, "database", nullptr), kKey, kNoMatch, ""},
        {"database without sql", changed(genuine, "sql", nullptr), kKey, kNoMatch, ""},
        {"second sql", changed(genuine, "sql", "DELETE FROM staff", true), kKey, kNoMatch, ""},
        {"second SQL in capitals", changed(genuine, "SQL", "DELETE FROM staff", true), kKey, kNoMatch, ""},
        {"signature in capitals", changed(genuine, "vexil_signature", capitals.c_str()), kKey, kNoMatch, ""},
        {"signature too short", changed(genuine, "vexil_signature", "X"), kKey, kNoMatch, ""},
        {"another key", genuine, kOtherKey, kNoMatch, ""},
        {"no site key", genuine, "", kNoKey, ""},
        {"no site key, database alone", {{"database", "DSN=x"}}, "", kNoKey, ""},
    };
    for (const auto& row : rows) {
        Status status = verify(row.fields, row.key);
        EXPECT_EQ(status.is_ok() ? "" : status.message(), row.error ? row.error : "") << row.what;
        EXPECT_EQ(trusted_names(), row.trusted) << row.what;
    }
}

// UPDATEFORM signs the statement, the connect text, the input ("" without
// TEMPLATE) and the keys in the order KEY names them; only in a locked run.
TEST_F(SignedRequest, UpdateFormSignsItsKeysInOrder) {
    for (bool locked : {true, false}) {
        clear();
        run_policy().locked = locked;
        run_policy().secret = kKey;
        form_state().script_name = "/cgi-bin/vexil";
        use_connect_text(kDb);
        std::vector<char> rows(kRowTemplateSize, 'x');
        TableHeader header;
        std::string options = "TABLE=staff, KEY=(id, 'code'), 'name'";
        EXPECT_EQ(test::captured([&] { build_update_form(options.data(), rows.data(), header); }), "");
        ASSERT_TRUE(forms_state().form_mode);
        std::string sql(statement_source().view());
        EXPECT_EQ(sql, "UPDATE staff SET name='$name$' WHERE id=$id$ AND code='$code$'");
        std::FILE* file = std::tmpfile();
        OutputChannel output{file};
        write_form_end(output);
        flush_output();  // the form's end reaches the file
        std::string end(4096, '\0');
        std::rewind(file);
        end.resize(std::fread(end.data(), 1, end.size(), file));
        std::fclose(file);
        std::string signature = sign_form(kKey, {sql, kDb, "", {"id", "code"}, {"", ""}});
        for (const std::string& field : {std::string("vexil_keys\" TYPE=\"hidden\" VALUE=\"id,code\""),
                                         "vexil_signature\" TYPE=\"hidden\" VALUE=\"" + signature + "\""})
            EXPECT_EQ(end.find("<INPUT NAME=\"" + field + ">\n") != std::string::npos, locked) << end;
    }
}

}  // namespace
}  // namespace vexil
