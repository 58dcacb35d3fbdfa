// Signed edit forms. In a locked web run the request is data: a posted
// statement (the "sql" field) or connect text ("database") counts only when
// this site wrote it into an edit form of its own. Such a form carries a
// signature, an HMAC-SHA256 with the site key over what it posts back
// unchanged: the hidden sql, database and input values, the names of the
// row's key columns and the row's key values. So a statement is accepted
// only as the site wrote it, and only for the row its form was made for.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.hpp"

namespace vexil {

// The hidden fields that carry the signature and the key names
// (comma-separated) of an edit form.
inline constexpr std::string_view kSignatureField = "vexil_signature";
inline constexpr std::string_view kKeyNamesField = "vexil_keys";

// What an edit form's signature covers.
struct SignedForm {
    std::string_view sql;                    // the hidden "sql" value
    std::string_view database;               // the hidden "database" value
    std::string_view input;                  // the hidden "input" value, "" without one
    std::vector<std::string_view> key_names; // the row's key columns, in order
    std::vector<std::string_view> key_values;// their values as the form shows them
};

// The form's signature with `key`: 64 lowercase hexadecimal digits. Each
// part goes in with its length in front, so no text can move from one part
// to another without changing the signature.
std::string sign_form(std::string_view key, const SignedForm& form);

// Whether `signature` is the form's signature with `key`; compared in
// constant time.
bool signature_matches(std::string_view key, const SignedForm& form, std::string_view signature);

// Checks the current request's form fields (read_form_data has run; without
// form data nothing is checked). A request that posts neither a non-empty
// "sql" nor a non-empty "database" needs no signature and gets nothing
// trusted. Otherwise it needs the site key, the signature and key-name fields
// and a signature that matches the posted sql, database and input values and
// the posted values of the named keys; then every "sql" and "database" field
// is marked trusted. A failure's message is a short reason for the visitor.
Status verify_signed_request();

}  // namespace vexil
