// Signed edit forms: the signature itself, the check of a posted form in a
// locked web run (forged or moved forms refused, the statement and the
// connect text of a genuine one marked trusted), and the signed fields that
// UPDATEFORM writes in a locked run.
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

SignedForm staff_form(std::string_view id) {
    SignedForm form;
    form.sql = "UPDATE staff SET name='$name$' WHERE id=$id$";
    form.database = "DRIVER=SQLite3;Database=/srv/db/staff.db";
    form.input = "saved.htm";
    form.key_names = {"id"};
    form.key_values = {id};
    return form;
}

TEST(SignForm, LowercaseHexThatDependsOnKeyAndEveryPart) {
    SignedForm form = staff_form("7");
    std::string signature = sign_form(kKey, form);
    ASSERT_EQ(signature.size(), 64u);
    EXPECT_EQ(signature.find_first_not_of("0123456789abcdef"), std::string::npos) << signature;
    EXPECT_EQ(sign_form(kKey, form), signature) << "the same form signs the same way";
    EXPECT_TRUE(signature_matches(kKey, form, signature));
    EXPECT_NE(sign_form(kOtherKey, form), signature);
    EXPECT_FALSE(signature_matches(kOtherKey, form, signature));
    EXPECT_FALSE(signature_matches(kKey, form, signature.substr(0, 63)));
    EXPECT_FALSE(signature_matches(kKey, form, ""));

    // Pairs of forms that hold the same characters in a different split:
    // each pair must sign differently.
    struct { const char* what; SignedForm a; SignedForm b; } rows[] = {
        {"text moved from sql to database", {"UPDATE t SET a=1", "DSN=x", "", {"id"}, {"1"}},
         {"UPDATE t SET a=", "1DSN=x", "", {"id"}, {"1"}}},
        {"text moved from database to input", {"s", "DSN=x", "in.htm", {"id"}, {"1"}},
         {"s", "DSN=xin.htm", "", {"id"}, {"1"}}},
        {"one key name or two", {"s", "d", "", {"a,b"}, {"1"}}, {"s", "d", "", {"a", "b"}, {"1"}}},
        {"a name moved into the values", {"s", "d", "", {"id", "x"}, {"1"}},
         {"s", "d", "", {"id"}, {"x", "1"}}},
        {"key values swapped", {"s", "d", "", {"a", "b"}, {"1", "2"}},
         {"s", "d", "", {"a", "b"}, {"2", "1"}}},
        {"an empty key value or none", {"s", "d", "", {"id"}, {""}}, {"s", "d", "", {"id"}, {}}},
    };
    for (const auto& row : rows) {
        EXPECT_NE(sign_form(kKey, row.a), sign_form(kKey, row.b)) << row.what;
        EXPECT_FALSE(signature_matches(kKey, row.b, sign_form(kKey, row.a))) << row.what;
    }
}

// A text with every byte but letters, digits and a few marks escaped.
std::string url_encoded(std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '_' || c == '.' || c == '-') {
            out += char(c);
        } else {
            out += '%';
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        }
    }
    return out;
}

using Fields = std::vector<std::pair<std::string, std::string>>;

// What a browser posts back from the staff form of row `id`.
Fields posted_staff_form(std::string_view id, const std::string& signature) {
    SignedForm form = staff_form(id);
    return {{"input", std::string(form.input)},
            {"id", std::string(id)},
            {"name", "Ann Lee"},
            {"database", std::string(form.database)},
            {"sql", std::string(form.sql)},
            {"vexil_keys", "id"},
            {"vexil_signature", signature}};
}

Fields changed(Fields fields, const std::string& name, const char* value) {
    Fields out;
    for (auto& field : fields) {
        if (field.first != name) {
            out.push_back(field);
        } else if (value != nullptr) {
            out.emplace_back(name, value);
        }
    }
    return out;
}

Fields added(Fields fields, const std::string& name, const std::string& value) {
    fields.emplace_back(name, value);
    return fields;
}

class SignedRequest : public test::WebRequest {
protected:
    // Makes a GET request of the fields in a fresh locked run with `key` as
    // the site key, and checks it.
    Status verify(const Fields& fields, const std::string& key) {
        clear();
        run_policy().locked = true;
        run_policy().secret = key;
        std::string query;
        for (const auto& [name, value] : fields) {
            if (!query.empty()) query += '&';
            query += url_encoded(name) + "=" + url_encoded(value);
        }
        setenv("REQUEST_METHOD", "GET", 1);
        setenv("QUERY_STRING", query.c_str(), 1);
        EXPECT_TRUE(read_form_data().is_ok()) << query;
        return verify_signed_request();
    }
    // The names of the trusted fields, in request order.
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
constexpr const char* kNoMatch =
    "This form's signature does not match: the form was changed or made elsewhere.";
constexpr const char* kNoKey =
    "This site accepts no posted statements: it has no key for signing forms.";

TEST_F(SignedRequest, GenuineFormsPassAndForgedOnesFail) {
    const std::string row7 = sign_form(kKey, staff_form("7"));
    const std::string row8 = sign_form(kKey, staff_form("8"));
    const Fields genuine = posted_staff_form("7", row7);
    struct {
        const char* what;
        Fields fields;
        std::string key;
        const char* error;       // nullptr: accepted
        const char* trusted;     // the fields marked trusted
    } rows[] = {
        {"the form as it was made", genuine, kKey, nullptr, "database,sql"},
        {"another row's genuine form", posted_staff_form("8", row8), kKey, nullptr, "database,sql"},
        {"edited columns are not signed", changed(genuine, "name", "Bob"), kKey, nullptr,
         "database,sql"},
        {"repeated sql field with the same text", added(genuine, "sql", std::string(staff_form("7").sql)),
         kKey, nullptr, "database,sql,sql"},
        {"no statement and no connect text", {{"id", "7"}, {"name", "x"}}, kKey, nullptr, ""},
        {"empty statement and connect text", {{"sql", ""}, {"database", ""}, {"id", "7"}}, "", nullptr,
         ""},
        {"signature missing", changed(genuine, "vexil_signature", nullptr), kKey, kMissing, ""},
        {"signature empty", changed(genuine, "vexil_signature", ""), kKey, kMissing, ""},
        {"key names missing", changed(genuine, "vexil_keys", nullptr), kKey, kMissing, ""},
        {"sql altered", changed(genuine, "sql", "DELETE FROM staff"), kKey, kNoMatch, ""},
        {"database altered", changed(genuine, "database", "DRIVER=SQLite3;Database=/tmp/x.db"), kKey,
         kNoMatch, ""},
        {"input altered", changed(genuine, "input", "other.htm"), kKey, kNoMatch, ""},
        {"input dropped", changed(genuine, "input", nullptr), kKey, kNoMatch, ""},
        {"a signature moved to another row", posted_staff_form("8", row7), kKey, kNoMatch, ""},
        {"key value dropped", changed(genuine, "id", nullptr), kKey, kNoMatch, ""},
        {"key names changed", changed(genuine, "vexil_keys", "name"), kKey, kNoMatch, ""},
        {"key names added", changed(genuine, "vexil_keys", "id,name"), kKey, kNoMatch, ""},
        {"sql without database", changed(genuine, "database", nullptr), kKey, kNoMatch, ""},
        {"database without sql", changed(genuine, "sql", nullptr), kKey, kNoMatch, ""},
        {"a second, different sql field", added(genuine, "sql", "DELETE FROM staff"), kKey, kNoMatch,
         ""},
        {"a second sql field named in capitals", added(genuine, "SQL", "DELETE FROM staff"), kKey,
         kNoMatch, ""},
        {"signature of the wrong length", changed(genuine, "vexil_signature", "X"), kKey, kNoMatch, ""},
        {"signed with another key", genuine, kOtherKey, kNoMatch, ""},
        {"no site key", genuine, "", kNoKey, ""},
        {"no site key, connect text alone", {{"database", "DSN=x"}}, "", kNoKey, ""},
    };
    for (const auto& row : rows) {
        Status status = verify(row.fields, row.key);
        if (row.error == nullptr) {
            EXPECT_TRUE(status.is_ok()) << row.what << ": " << status.message();
        } else {
            EXPECT_EQ(status.message(), row.error) << row.what;
        }
        EXPECT_EQ(trusted_names(), row.trusted) << row.what;
    }
}

TEST_F(SignedRequest, SignatureInCapitalsIsRefused) {
    std::string signature = sign_form(kKey, staff_form("7"));
    for (char& c : signature) c = char(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(verify(posted_staff_form("7", signature), kKey).message(), kNoMatch);
}

TEST_F(SignedRequest, SeveralKeysAndEmptyKeyValues) {
    SignedForm form{"UPDATE t SET c='$c$' WHERE a=$a$ AND b='$b$'", "DSN=x", "", {"a", "b"}, {"1", ""}};
    std::string signature = sign_form(kKey, form);
    Fields fields{{"a", "1"}, {"b", ""}, {"c", "new"}, {"database", "DSN=x"},
                  {"sql", std::string(form.sql)}, {"vexil_keys", "a,b"}, {"vexil_signature", signature}};
    EXPECT_TRUE(verify(fields, kKey).is_ok());
    EXPECT_EQ(trusted_names(), "database,sql");
    // A key field left out posts as empty, as a NULL key shows.
    EXPECT_TRUE(verify(changed(fields, "b", nullptr), kKey).is_ok());
    EXPECT_EQ(verify(changed(fields, "b", "2"), kKey).message(), kNoMatch);
    EXPECT_EQ(verify(changed(fields, "vexil_keys", "b,a"), kKey).message(), kNoMatch);
}

// UPDATEFORM's pieces as a run writes them: the command's messages, the row
// template and the end of one row's form.
struct BuiltForm {
    std::string reported;
    std::string rows;
    std::string end;
    std::string sql;  // the statement the form posts back
    bool form_mode = false;
};

// The value of the hidden field `name` in a form's text ("" when absent).
std::string hidden_value(const std::string& form, const std::string& name) {
    std::string start = "<INPUT NAME=\"" + name + "\" TYPE=\"hidden\" VALUE=\"";
    std::size_t at = form.find(start);
    if (at == std::string::npos) return "";
    at += start.size();
    return form.substr(at, form.find('"', at) - at);
}

class SignedUpdateForm : public SignedRequest {
protected:
    // Builds a form in a fresh run (locked or not, with `key` as the site
    // key) and writes the end of one row's form.
    BuiltForm build(bool locked, const std::string& key, std::string options) {
        clear();
        run_policy().locked = locked;
        run_policy().secret = key;
        form_state().script_name = "/cgi-bin/vexil";
        use_connect_text(kDatabase);
        BuiltForm built;
        std::vector<char> rows(kRowTemplateSize, 'x');
        TableHeader header;
        built.reported = test::captured([&] { build_update_form(options.data(), rows.data(), header); });
        built.rows = rows.data();
        built.form_mode = forms_state().form_mode;
        built.sql = std::string(statement_source().view());
        if (!built.form_mode) return built;
        std::FILE* file = std::tmpfile();
        OutputChannel output{file};
        write_form_end(output);
        std::fflush(file);
        std::rewind(file);
        char buffer[4096];
        std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
        std::fclose(file);
        built.end.assign(buffer, n);
        return built;
    }
    static constexpr const char* kDatabase = "DRIVER=SQLite3;Database=/srv/db/staff.db";
    static constexpr const char* kOptions = "TABLE=staff, TEMPLATE=saved.htm, KEY=(id, 'code'), 'name'";
};

TEST_F(SignedUpdateForm, LockedRunSignsEachFormForItsRow) {
    BuiltForm built = build(true, kKey, kOptions);
    EXPECT_EQ(built.reported, "");
    ASSERT_TRUE(built.form_mode);
    EXPECT_EQ(built.sql, "UPDATE staff SET name='$name$' WHERE id=$id$ AND code='$code$'");
    EXPECT_EQ(hidden_value(built.end, "vexil_keys"), "id,code");
    // No result columns here: both keys show as empty.
    SignedForm expected{built.sql, kDatabase, "saved.htm", {"id", "code"}, {"", ""}};
    std::string signature = hidden_value(built.end, "vexil_signature");
    EXPECT_EQ(signature, sign_form(kKey, expected));
    EXPECT_EQ(built.end,
              "</TABLE>\n<INPUT NAME=\"database\" TYPE=\"hidden\" VALUE=\"" + std::string(kDatabase) +
                  "\">\n<INPUT NAME=\"sql\" TYPE=\"hidden\" VALUE=\"" + built.sql +
                  "\">\n<INPUT NAME=\"vexil_keys\" TYPE=\"hidden\" VALUE=\"id,code\">\n"
                  "<INPUT NAME=\"vexil_signature\" TYPE=\"hidden\" VALUE=\"" + signature +
                  "\">\n<P><INPUT TYPE=\"submit\" VALUE=\"Update\"></FORM>\n");

    // What a browser posts back from it passes the check; the same form
    // posted for another row does not.
    Fields posted{{"input", "saved.htm"},          {"id", ""}, {"code", ""}, {"name", "Ann"},
                  {"database", kDatabase},        {"sql", built.sql},
                  {"vexil_keys", "id,code"},      {"vexil_signature", signature}};
    EXPECT_TRUE(verify(posted, kKey).is_ok());
    EXPECT_EQ(trusted_names(), "database,sql");
    EXPECT_EQ(verify(changed(posted, "id", "5"), kKey).message(), kNoMatch);
}

TEST_F(SignedUpdateForm, WithoutTemplateTheInputIsEmpty) {
    BuiltForm built = build(true, kKey, "TABLE=staff, KEY=id, 'name'");
    ASSERT_TRUE(built.form_mode) << built.reported;
    SignedForm expected{built.sql, kDatabase, "", {"id"}, {""}};
    EXPECT_EQ(hidden_value(built.end, "vexil_signature"), sign_form(kKey, expected));
}

TEST_F(SignedUpdateForm, LockedRunWithoutKeyOffersNoForm) {
    BuiltForm built = build(true, "", kOptions);
    EXPECT_EQ(built.reported,
              test::reported("Edit forms are not offered: the site has no key for signing them "
                             "(VEXIL_SECRET_FILE)."));
    EXPECT_FALSE(built.form_mode);
    EXPECT_EQ(built.rows, "");
}

TEST_F(SignedUpdateForm, OpenRunsWriteNoSignature) {
    for (const std::string& key : {std::string(), kKey}) {
        BuiltForm built = build(false, key, kOptions);
        ASSERT_TRUE(built.form_mode) << built.reported;
        EXPECT_EQ(built.end,
                  "</TABLE>\n<INPUT NAME=\"database\" TYPE=\"hidden\" VALUE=\"" + std::string(kDatabase) +
                      "\">\n<INPUT NAME=\"sql\" TYPE=\"hidden\" VALUE=\"" + built.sql +
                      "\">\n<P><INPUT TYPE=\"submit\" VALUE=\"Update\"></FORM>\n");
    }
}

}  // namespace
}  // namespace vexil
