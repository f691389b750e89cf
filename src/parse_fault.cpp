// Parse failures located and explained: the byte, its line and column, the
// reason, and the members and items it lies in.
#include "parse_fault.h"

#include "value.h"

#include <cstring>

using namespace jsontree::detail;

namespace {

constexpr size_t SHOWN_MAX = 40;

bool is_continuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of `text` that a buffer of `room` bytes holds without splitting
// a UTF-8 sequence.
size_t fitting_length(std::string_view text, size_t room)
{
    if (text.size() <= room)
        return text.size();
    size_t length = room;
    while (length > 0 && is_continuation(static_cast<unsigned char>(text[length])))
        length--;
    return length;
}

// The bytes one character takes at `position`: a valid UTF-8 sequence that
// ends by `limit`, else one byte.
size_t character_length(const char *position, const char *limit)
{
    auto length = size_t(num_bytes_in_utf8_sequence(static_cast<unsigned char>(*position)));
    if (length <= 1 || size_t(limit - position) < length || !is_valid_utf8(position, length))
        return 1;
    return length;
}

// 1 + the characters from the start of the line of `at` up to it.
size_t column_of(const char *text, const char *at)
{
    const char *line_start = at;
    while (line_start > text && line_start[-1] != '\n')
        line_start--;
    size_t column = 1;
    for (const char *position = line_start; position < at; column++)
        position += character_length(position, at);
    return column;
}

// 1 + the line feeds before `at`.
size_t line_of(const char *text, const char *at)
{
    size_t line = 1;
    for (const char *position = text; position < at; position++)
        line += *position == '\n';
    return line;
}

void write_error(JSON_Error *error, size_t offset, size_t line, size_t column,
                 std::string_view reason)
{
    if (!error)
        return;
    error->offset = offset;
    error->line = line;
    error->column = column;
    size_t length = fitting_length(reason, sizeof error->reason - 1);
    memcpy(error->reason, reason.data(), length);
    error->reason[length] = '\0';
}

}  // namespace

namespace jsontree::detail {

ReasonLine &ReasonLine::append(std::string_view text)
{
    size_t length = fitting_length(text, sizeof buffer_ - length_);
    memcpy(buffer_ + length_, text.data(), length);
    length_ += length;
    return *this;
}

ReasonLine &ReasonLine::number(size_t value)
{
    char digits[24];
    size_t start = sizeof digits;
    do {
        digits[--start] = char('0' + value % 10);
        value /= 10;
    } while (value);
    return append({digits + start, sizeof digits - start});
}

ReasonLine &ReasonLine::shown(std::string_view text)
{
    char safe[SHOWN_MAX];
    size_t length = fitting_length(text, sizeof safe);
    for (size_t i = 0; i < length; i++)
        safe[i] = static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7F ? '?' : text[i];
    return append({safe, length}).append(length < text.size() ? "..." : "");
}

ReasonLine &ReasonLine::quoted(std::string_view text)
{
    return append("\"").shown(text).append("\"");
}

ReasonLine &ParseFault::at(const char *at)
{
    at_ = at;
    return reason_;
}

void ParseFault::expected(const char *at, std::string_view what)
{
    ReasonLine &reason = this->at(at);
    if (*at == '\0')
        reason.append("unexpected end of text: ");
    reason.append("expected ").append(what);
}

void ParseFault::prepend_to_path(std::string_view segment)
{
    // Memory ran out: no place, so no path either.
    if (!at_ || path_cut_)
        return;
    if (segment.size() > path_start_) {
        path_cut_ = true;
        return;
    }
    path_start_ -= segment.size();
    memcpy(path_ + path_start_, segment.data(), segment.size());
}

void ParseFault::enclose_member(std::string_view name)
{
    ReasonLine segment;
    prepend_to_path(segment.append(".").shown(name).text());
}

void ParseFault::enclose_item(size_t index)
{
    ReasonLine segment;
    prepend_to_path(segment.append("[").number(index).append("]").text());
}

void ParseFault::report(const char *original, JSON_Error *error) const
{
    if (!at_) {
        report_failure("out of memory", error);
        return;
    }
    const char *at = original + (at_ - text_);
    ReasonLine line;
    line.append(reason_.text());
    std::string_view path(path_ + path_start_, sizeof path_ - path_start_);
    if (!path.empty()) {
        line.append(" in ").append(path_cut_ ? "..." : "");
        // A path from the root's members starts with the dot before the first.
        if (!path_cut_ && path[0] == '.')
            path.remove_prefix(1);
        line.append(path);
    }
    write_error(error, size_t(at - original), line_of(original, at), column_of(original, at),
                line.text());
}

void report_failure(std::string_view reason, JSON_Error *error)
{
    write_error(error, 0, 0, 0, reason);
}

void report_success(JSON_Error *error)
{
    write_error(error, 0, 0, 0, "");
}

void report_place(const char *text, size_t offset, std::string_view reason, JSON_Error *error)
{
    write_error(error, offset, line_of(text, text + offset), column_of(text, text + offset),
                reason);
}

}  // namespace jsontree::detail

JSON_Status json_verify_utf8_report(const char *string, JSON_Error *error)
{
    if (!string) {
        report_failure("no text", error);
        return JSONFailure;
    }
    size_t length = strlen(string);
    size_t valid = valid_utf8_length(string, length);
    if (valid == length) {
        report_success(error);
        return JSONSuccess;
    }
    report_place(string, valid, "not valid UTF-8", error);
    return JSONFailure;
}
