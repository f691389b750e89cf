// Why and where a parse failed, for the parsers that report it.
#ifndef JSONTREE_PARSE_FAULT_H
#define JSONTREE_PARSE_FAULT_H

#include "jsontree.h"

#include <cstddef>
#include <string_view>

namespace jsontree::detail {

// One line of text in a fixed buffer, cut at a character boundary when full.
class ReasonLine {
public:
    ReasonLine &append(std::string_view text);
    ReasonLine &number(size_t value);
    // `text` from the document: a long one clipped, control bytes shown as
    // '?', so no text can break the line.
    ReasonLine &shown(std::string_view text);
    // The same in quotation marks.
    ReasonLine &quoted(std::string_view text);
    std::string_view text() const { return {buffer_, length_}; }

private:
    char buffer_[JSON_ERROR_REASON_SIZE];
    size_t length_ = 0;
};

// Gathered on the failure path only, so a parse that succeeds pays nothing
// for it (its entry points are marked cold, keeping them out of the way of
// the hot code): the reader that finds the fault names the byte and the reason, and
// each member or item the fault lies in adds itself to the path while the
// parse unwinds. A failure that names no byte ran out of memory.
class ParseFault {
public:
    explicit ParseFault(const char *text) : text_(text) {}
    ParseFault(const ParseFault &) = delete;
    ParseFault &operator=(const ParseFault &) = delete;

    // The fault lies at `at`, a byte of the text; the reason goes in the line.
    [[gnu::cold]] ReasonLine &at(const char *at);
    // "expected WHAT"; at the text's NUL, the end of the text comes first.
    [[gnu::cold]] void expected(const char *at, std::string_view what);

    [[gnu::cold]] void enclose_member(std::string_view name);
    [[gnu::cold]] void enclose_item(size_t index);

    // Fills `error` (null is ignored), the place counted in `original`: the
    // text parsed, or the one it was blanked from, byte for byte as long.
    void report(const char *original, JSON_Error *error) const;

private:
    void prepend_to_path(std::string_view segment);

    const char *const text_;
    const char *at_ = nullptr;
    ReasonLine reason_;
    // Filled from the back, innermost segment first.
    char path_[JSON_ERROR_REASON_SIZE];
    size_t path_start_ = sizeof path_;
    bool path_cut_ = false;
};

// A report of a failure that has no place in the text; null is ignored.
void report_failure(std::string_view reason, JSON_Error *error);
// A report of a success: no place and an empty reason; null is ignored.
void report_success(JSON_Error *error);
// A report of `reason` at byte `offset` of `text`; null is ignored.
void report_place(const char *text, size_t offset, std::string_view reason, JSON_Error *error);

}  // namespace jsontree::detail

#endif
