// Signed edit forms: the signature (OpenSSL's HMAC-SHA256) and the check of
// a posted form against it.
//
// OpenSSL's libcrypto is loaded when the first signature is made or
// checked, not at the start of every run: most runs sign nothing, and
// mapping the library cost each CGI run about 0.7 ms, a fifth of a small
// page's time.
#include "request/signature.hpp"

#include <dlfcn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/opensslv.h>

#include <climits>
#include <cstdint>

#include "base/policy.hpp"
#include "base/text.hpp"
#include "request/form_data.hpp"

namespace vexil {

namespace {

#define VEXIL_TEXT(x) #x
#define VEXIL_SONAME(version) "libcrypto.so." VEXIL_TEXT(version)

// The functions of libcrypto the signatures use.
struct Crypto {
    decltype(&HMAC) hmac = nullptr;
    decltype(&EVP_sha256) sha256 = nullptr;
    decltype(&CRYPTO_memcmp) equal_memory = nullptr;
};

// libcrypto, loaded once per process on first use (the library the program
// was built against, by its shared-object name); nullptr when it cannot be
// loaded, and then nothing is signed and no signature matches.
const Crypto* crypto() {
    static const Crypto loaded = [] {
        Crypto c;
        void* library = ::dlopen(VEXIL_SONAME(OPENSSL_SHLIB_VERSION), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return c;
        c.hmac = reinterpret_cast<decltype(&HMAC)>(::dlsym(library, "HMAC"));
        c.sha256 = reinterpret_cast<decltype(&EVP_sha256)>(::dlsym(library, "EVP_sha256"));
        c.equal_memory = reinterpret_cast<decltype(&CRYPTO_memcmp)>(::dlsym(library, "CRYPTO_memcmp"));
        return c;
    }();
    return loaded.hmac != nullptr && loaded.sha256 != nullptr && loaded.equal_memory != nullptr ? &loaded
                                                                                                : nullptr;
}

// Tells this kind of signature apart from anything else the key may sign.
constexpr std::string_view kSignatureTag = "vexil edit form 1";

void append_length(std::string& message, std::size_t length) {
    for (int shift = 56; shift >= 0; shift -= 8) {
        message += static_cast<char>((std::uint64_t(length) >> shift) & 0xFF);
    }
}

void append_part(std::string& message, std::string_view part) {
    append_length(message, part.size());
    message += part;
}

// The signed text: the tag, then every part with its length in front; the
// key names and values each with their count in front.
std::string signed_message(const SignedForm& form) {
    std::string message;
    append_part(message, kSignatureTag);
    append_part(message, form.sql);
    append_part(message, form.database);
    append_part(message, form.input);
    append_length(message, form.key_names.size());
    for (std::string_view name : form.key_names) append_part(message, name);
    append_length(message, form.key_values.size());
    for (std::string_view value : form.key_values) append_part(message, value);
    return message;
}

// The names of a comma-separated list, in order; an empty list has none.
std::vector<std::string_view> split_names(std::string_view list) {
    std::vector<std::string_view> names;
    if (list.empty()) return names;
    for (;;) {
        std::size_t comma = list.find(',');
        names.push_back(list.substr(0, comma));
        if (comma == std::string_view::npos) return names;
        list.remove_prefix(comma + 1);
    }
}

bool is_signed_field(const FormField& field) {
    return equals_nocase(field.name, "sql") || equals_nocase(field.name, "database");
}

std::string_view value_of(const FormField& field) {
    return field.value != nullptr ? field.value : "";
}

// Every "sql" and "database" field holds the same value as the first of its
// name, the one the lookups see: a second, different copy is refused rather
// than trusted along with the first.
bool repeated_fields_agree() {
    bool agree = true;
    for_each_form_field([&](FormField& field) {
        if (is_signed_field(field) && value_of(field) != form_value(field.name)) agree = false;
        return agree;
    });
    return agree;
}

constexpr const char* kNoSiteKey =
    "This site accepts no posted statements: it has no key for signing forms.";
constexpr const char* kMissingSignature = "This form's signature is missing.";
constexpr const char* kWrongSignature =
    "This form's signature does not match: the form was changed or made elsewhere.";

}  // namespace

std::string sign_form(std::string_view key, const SignedForm& form) {
    const Crypto* c = crypto();
    if (c == nullptr) return {};
    std::string message = signed_message(form);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_length = 0;
    if (key.size() > std::size_t(INT_MAX) ||
        c->hmac(c->sha256(), key.data(), int(key.size()), reinterpret_cast<const unsigned char*>(message.data()),
                message.size(), digest, &digest_length) == nullptr) {
        return {};
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * digest_length);
    for (unsigned int i = 0; i < digest_length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0x0F];
    }
    return hex;
}

bool signature_matches(std::string_view key, const SignedForm& form, std::string_view signature) {
    std::string expected = sign_form(key, form);
    return !expected.empty() && signature.size() == expected.size() &&
           crypto()->equal_memory(expected.data(), signature.data(), expected.size()) == 0;
}

Status verify_signed_request() {
    if (form_value("sql")[0] == '\0' && form_value("database")[0] == '\0') return Status::ok();
    const std::string& key = run_policy().secret;
    if (key.empty()) return Status::failure("%s", kNoSiteKey);
    std::string_view signature = form_value(kSignatureField);
    std::string_view key_list = form_value(kKeyNamesField);
    if (signature.empty() || key_list.empty()) return Status::failure("%s", kMissingSignature);

    SignedForm form;
    form.sql = form_value("sql");
    form.database = form_value("database");
    form.input = form_value("input");
    form.key_names = split_names(key_list);
    for (std::string_view name : form.key_names) form.key_values.push_back(form_value(name));
    if (!repeated_fields_agree() || !signature_matches(key, form, signature)) {
        return Status::failure("%s", kWrongSignature);
    }
    for_each_form_field([](FormField& field) {
        if (is_signed_field(field)) field.trusted = true;
        return true;
    });
    return Status::ok();
}

}  // namespace vexil
