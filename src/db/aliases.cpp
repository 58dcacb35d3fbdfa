// Alias extraction: walks the statement outside quoted literals, keeping the
// depth of parentheses, so that a comma, " AS " or " FROM " inside a text, a
// quoted name ("..." or MariaDB's `...`) or a function call is taken as part
// of the item it stands in.
#include "db/aliases.hpp"

#include "base/text.hpp"
#include "db/columns.hpp"

namespace vexil {

namespace {

// A position in a statement, moved over quoted literals whole.
struct SqlCursor {
    std::string_view text;
    std::size_t pos = 0;
    int depth = 0;  // open parentheses before pos

    bool at_end(std::size_t end) const { return pos >= end; }
    // Moves past the character at pos, or past the whole quoted literal
    // that opens there (to the end of the text when it is not closed; a
    // doubled quote inside closes and reopens it).
    void step() {
        char c = text[pos];
        if (c == '\'' || c == '"' || c == '`') {
            std::size_t close = text.find(c, pos + 1);
            pos = close == std::string_view::npos ? text.size() : close + 1;
            return;
        }
        if (c == '(') ++depth;
        if (c == ')') --depth;
        ++pos;
    }
    // Whether the keyword (with its blanks) starts at pos, outside
    // parentheses; an empty keyword never does.
    bool at_keyword(std::string_view keyword) const {
        return depth == 0 && !keyword.empty() && starts_with_keyword(text.substr(pos), keyword);
    }
};

bool has_star(std::string_view text) {
    for (SqlCursor c{text}; !c.at_end(text.size()); c.step()) {
        if (text[c.pos] == '*') return true;
    }
    return false;
}

// The first position at or after `from` (and before `end`) where `keyword`
// or, when `comma` is set, a "," stands outside literals and parentheses;
// `end` when there is none.
std::size_t find_top_level(std::string_view text, std::size_t from, std::size_t end,
                           std::string_view keyword, bool comma) {
    for (SqlCursor c{text, from}; !c.at_end(end); c.step()) {
        if (c.at_keyword(keyword) || (comma && c.depth == 0 && text[c.pos] == ',')) return c.pos;
    }
    return end;
}

// Spaces only: a tab inside an alias stays part of it.
std::string_view trim_spaces(std::string_view t) {
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    return t;
}

}  // namespace

SelectAliases split_aliases(std::string_view text) {
    constexpr std::string_view kSelect = "SELECT ";
    SelectAliases result;
    if (!starts_with_keyword(text, kSelect) || has_star(text)) {
        result.statement = text;
        return result;
    }
    std::size_t list_end = find_top_level(text, kSelect.size(), text.size(), " FROM ", false);
    result.statement = text.substr(0, kSelect.size());
    std::size_t item = kSelect.size();
    while (true) {
        // One item: up to the next top-level "," or " AS ", then to the
        // "," that ends the item (what lies between is the alias).
        std::size_t stop = find_top_level(text, item, list_end, " AS ", true);
        std::size_t item_end = stop;
        std::string alias;
        if (stop < list_end && text[stop] != ',') {
            item_end = find_top_level(text, stop, list_end, {}, true);
            std::string_view written = trim_spaces(text.substr(stop + 4, item_end - stop - 4));
            alias = trim_spaces(written.substr(0, kMaxColumnName));
        }
        result.statement += text.substr(item, stop - item);
        result.aliases.push_back(std::move(alias));
        if (item_end >= list_end) break;
        result.statement += ',';
        item = item_end + 1;
    }
    result.statement += text.substr(list_end);
    return result;
}

}  // namespace vexil
