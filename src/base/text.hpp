// Shared text helpers: the bounded text buffer every fixed buffer of the
// program is made of, and the two case-blind comparisons used for keywords,
// variable names and form field names.
//
// A TextBuffer<N> holds at most N-1 characters and is always NUL-terminated.
// assign and append cut at the capacity instead of overflowing, so no caller
// has to check room before writing.
#pragma once

#include <array>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace vexil {

template <std::size_t N>
class TextBuffer {
    static_assert(N >= 1, "a text buffer needs room for its terminator");

public:
    static constexpr std::size_t kCapacity = N - 1;  // characters it can hold

    TextBuffer() { data_[0] = '\0'; }
    explicit TextBuffer(std::string_view text) { assign(text); }

    void clear() {
        length_ = 0;
        data_[0] = '\0';
    }
    // Replaces the contents; the excess beyond the capacity is dropped.
    void assign(std::string_view text) {
        clear();
        append(text);
    }
    // Appends as much of text as fits; returns false when something was cut.
    bool append(std::string_view text) {
        std::size_t room = kCapacity - length_;
        std::size_t n = text.size() < room ? text.size() : room;
        if (n > 0) std::memcpy(data_.data() + length_, text.data(), n);
        length_ += n;
        data_[length_] = '\0';
        return n == text.size();
    }
    bool push_back(char c) { return append(std::string_view(&c, 1)); }
    // Replaces the contents with n in decimal digits, as "%lld" would,
    // without the cost of a formatted print (row numbers are set per row).
    void assign_number(long long n) {
        char digits[24];
        auto result = std::to_chars(digits, digits + sizeof digits, n);
        assign(std::string_view(digits, std::size_t(result.ptr - digits)));
    }

    // Replaces the contents with printf-style formatted text, cut to fit.
    void format(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, fmt);
        std::vsnprintf(data_.data(), N, fmt, args);
        va_end(args);
        sync_length();
    }

    // After the text was edited in place through data(): the length is taken
    // from the first NUL (the last byte is always kept a NUL).
    void sync_length() {
        data_[kCapacity] = '\0';
        length_ = std::strlen(data_.data());
    }

    const char* c_str() const { return data_.data(); }
    char* data() { return data_.data(); }
    static constexpr std::size_t bytes() { return N; }
    std::string_view view() const { return {data_.data(), length_}; }
    std::size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }
    bool full() const { return length_ == kCapacity; }

private:
    std::array<char, N> data_;
    std::size_t length_ = 0;
};

// Appends to a caller's buffer of `size` bytes (at least 1), cutting at its
// capacity; what was written so far is always terminated.
class BoundedWriter {
public:
    BoundedWriter(char* buffer, std::size_t size) : buffer_(buffer), size_(size) { buffer_[0] = '\0'; }
    void append(const char* from, std::size_t n) {
        std::size_t room = size_ - 1 - length_;
        if (n > room) n = room;
        if (n > 0) std::memcpy(buffer_ + length_, from, n);
        length_ += n;
        buffer_[length_] = '\0';
    }
    std::size_t length() const { return length_; }

private:
    char* buffer_;
    std::size_t size_;
    std::size_t length_ = 0;
};

// Copies text into dest (of dest_size bytes), cutting at dest_size - 1 and
// always terminating. Returns the number of characters copied.
std::size_t copy_bounded(char* dest, std::size_t dest_size, std::string_view text);

// Upper-cases an ASCII letter; every other byte is returned unchanged.
inline char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
inline bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// 1 when a and b have the same length and are equal after upper-casing
// letters; two empty texts are equal.
bool equals_nocase(std::string_view a, std::string_view b);

// 1 when text begins with the first n characters of keyword, letters compared
// regardless of case and other characters exactly. A text shorter than n
// characters (an empty one included) never matches.
bool starts_with_nocase(std::string_view text, std::string_view keyword, std::size_t n);
// The same for a NUL-terminated text, read no further than needed.
bool starts_with_nocase(const char* text, std::string_view keyword, std::size_t n);
// Whether text begins with the whole keyword (letters compared regardless
// of case); the keyword's length is its own, never written out by hand.
// The text without the blanks and tabs at either end.
inline std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

inline bool starts_with_keyword(std::string_view text, std::string_view keyword) {
    return starts_with_nocase(text, keyword, keyword.size());
}
inline bool starts_with_keyword(const char* text, std::string_view keyword) {
    return starts_with_nocase(text, keyword, keyword.size());
}

// Appends text to dest with "&", "<", ">" and '"' written as entities, and
// with `apostrophe` also "'" (as "&#39;").
void append_html_escaped(std::string& dest, std::string_view text, bool apostrophe = false);

}  // namespace vexil
