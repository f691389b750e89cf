// Edits of one value in a text that keep every other byte: comments, layout
// and the way every other value is written. Places are found in a copy of
// the text with its comments blanked, where each byte keeps its position;
// what is written follows the layout found around the place; and the new
// text is read back and compared with the document the tree calls make of
// the same change before anyone sees it.
#include "edit.h"

#include "comments.h"
#include "parse_fault.h"
#include "parse_string.h"
#include "pointer.h"
#include "value.h"

#include <cstdint>
#include <cstring>

using namespace jsontree::detail;

namespace {

constexpr char WHITE_SPACE[] = " \t\n\v\f\r";

// ---- Text written piece by piece

// A text that grows through the allocation hooks; one failed growth fails it.
class TextBuilder {
public:
    TextBuilder() = default;
    TextBuilder(const TextBuilder &) = delete;
    TextBuilder &operator=(const TextBuilder &) = delete;
    ~TextBuilder() { jsontree_free(data_); }

    void put(std::string_view piece)
    {
        // An empty piece may have no bytes at all to copy from.
        if (piece.empty() || !reserve(piece.size()))
            return;
        memcpy(data_ + length_, piece.data(), piece.size());
        length_ += piece.size();
    }
    void put(char c) { put(std::string_view(&c, 1)); }
    void fail() { failed_ = true; }
    size_t length() const { return length_; }

    // The text, NUL-terminated, now the caller's; null when it failed.
    char *release()
    {
        if (!reserve(0))
            return nullptr;
        data_[length_] = '\0';
        char *text = data_;
        data_ = nullptr;
        return text;
    }

private:
    bool reserve(size_t more)
    {
        if (failed_ || more > SIZE_MAX / 4 - length_) {
            failed_ = true;
            return false;
        }
        size_t needed = length_ + more + 1;
        if (needed <= capacity_)
            return true;
        size_t capacity = capacity_ * 2 > needed ? capacity_ * 2 : needed + 64;
        auto *data = static_cast<char *>(jsontree_malloc(capacity));
        if (!data) {
            failed_ = true;
            return false;
        }
        if (length_ > 0)
            memcpy(data, data_, length_);
        jsontree_free(data_);
        data_ = data;
        capacity_ = capacity;
        return true;
    }

    char *data_ = nullptr;
    size_t length_ = 0;
    size_t capacity_ = 0;
    bool failed_ = false;
};

// ---- The text and its blanked copy

// The text given and a copy of it whose comments are white space (a line
// comment's line feed kept): a place found in the copy is a place in the text.
struct Source {
    const char *text;
    const char *lexed;
    const char *lexed_end;

    const char *original(const char *place) const { return text + (place - lexed); }
    std::string_view original(const char *from, const char *to) const
    {
        return {original(from), size_t(to - from)};
    }
};

const char *skip_space(const char *cursor)
{
    return cursor + strspn(cursor, WHITE_SPACE);
}

const char *past_string(const char *quote)
{
    return skip_string_literal(quote, [](const char *) {});
}

// Past the value at `start`, in blanked text the parser accepted.
const char *past_value(const char *start)
{
    if (*start == '"')
        return past_string(start);
    if (*start != '{' && *start != '[')
        return start + strcspn(start, ",]} \t\n\v\f\r");
    size_t depth = 0;
    for (const char *cursor = start;;) {
        if (*cursor == '"') {
            cursor = past_string(cursor);
            continue;
        }
        if (*cursor == '{' || *cursor == '[')
            depth++;
        else if ((*cursor == '}' || *cursor == ']') && --depth == 0)
            return cursor + 1;
        cursor++;
    }
}

const char *line_start(const Source &source, const char *place)
{
    while (place > source.lexed && place[-1] != '\n')
        place--;
    return place;
}

// The spaces and tabs that open the line of `place`.
std::string_view indentation(const Source &source, const char *place)
{
    const char *start = source.original(line_start(source, place));
    return {start, strspn(start, " \t")};
}

bool starts_line(const Source &source, const char *place)
{
    return indentation(source, place).size() == size_t(place - line_start(source, place));
}

// The line feed that ends the line of `place` when only white space and
// comments follow it there; null otherwise.
const char *line_feed_after(const char *place)
{
    const char *after = place + strspn(place, " \t\v\f\r");
    return *after == '\n' ? after : nullptr;
}

// Where text goes at the end of the line `line_feed` ends: before its CR LF.
const char *before_line_end(const Source &source, const char *line_feed)
{
    return line_feed > source.lexed && source.original(line_feed)[-1] == '\r' ? line_feed - 1
                                                                              : line_feed;
}

std::string_view line_end_of(const Source &source, const char *line_feed)
{
    return before_line_end(source, line_feed) == line_feed ? "\n" : "\r\n";
}

// `piece` when it holds only bytes of `allowed`, else `otherwise`.
std::string_view only_of(std::string_view piece, std::string_view allowed,
                         std::string_view otherwise)
{
    return piece.find_first_not_of(allowed) == std::string_view::npos ? piece : otherwise;
}

// ---- Containers of the text

struct Entry {
    const char *start = nullptr;  // the name's quotation mark, or the item's first byte
    const char *value = nullptr;
    const char *value_end = nullptr;
    const char *comma = nullptr;  // the one after it; null for the last entry

    const char *end() const { return comma ? comma + 1 : value_end; }
};

// An object or array read once for an edit: its brackets, the entries its
// layout is read from, and the entry a step names.
struct Container {
    const char *open = nullptr;
    const char *close = nullptr;
    size_t count = 0;
    Entry first, second, last;
    Entry found, before_found;  // found.start is null when no entry is named

    bool is_object() const { return *open == '{'; }
};

// Member names decoded as the parser decodes them.
struct NameReader {
    explicit NameReader(const char *text_end) : end(text_end), fault(text_end) {}
    std::string_view read(const char **cursor)
    {
        return get_quoted_string(cursor, end, decoded, fault);
    }

    const char *end;
    DecodeBuffer decoded;
    ParseFault fault;
};

// The entries of the container opening at `open`: in an object the member
// named `step`, in an array the item at `index`.
void read_container(const char *open, std::string_view step, size_t index, NameReader &names,
                    Container &container)
{
    container = Container{};
    container.open = open;
    const char closing = *open == '{' ? '}' : ']';
    const char *cursor = skip_space(open + 1);
    Entry previous;
    for (; *cursor != closing; container.count++) {
        Entry entry;
        entry.start = cursor;
        bool named = container.count == index;
        if (container.is_object()) {
            named = names.read(&cursor) == step;
            cursor = skip_space(skip_space(cursor) + 1);  // past the colon
        }
        entry.value = cursor;
        entry.value_end = past_value(cursor);
        cursor = skip_space(entry.value_end);
        if (*cursor == ',') {
            entry.comma = cursor;
            cursor = skip_space(cursor + 1);
        }
        if (container.count == 0)
            container.first = entry;
        else if (container.count == 1)
            container.second = entry;
        if (named && !container.found.start) {
            container.found = entry;
            container.before_found = previous;
        }
        previous = entry;
    }
    container.last = previous;
    container.close = cursor;
}

// ---- Layout

// How entries are laid out in a container, found in the text around the
// place; where the text shows nothing, the writer's own layout.
struct Style {
    std::string_view eol = "\n";
    std::string_view unit = "    ";  // one level of indentation
    std::string_view colon = ": ";   // between a name and its value
    std::string_view comma = " ";    // after a comma, on one line
    std::string_view padding;        // inside the brackets, on one line
    std::string_view indent;         // of the entries' lines
    bool one_level_in = false;       // the entries are one unit deeper than `indent`
    bool multi_line = false;
};

// The line end and the indentation unit the text uses first.
Style text_style(const Source &source)
{
    Style style;
    if (const char *line_feed = strchr(source.text, '\n'))
        style.eol = line_feed > source.text && line_feed[-1] == '\r' ? "\r\n" : "\n";
    for (const char *line = source.lexed; *line;) {
        std::string_view indent = indentation(source, line);
        const char *content = line + indent.size();
        if (!indent.empty() && !strchr(WHITE_SPACE, *content)) {
            style.unit = indent;
            break;
        }
        const char *line_feed = strchr(content, '\n');
        if (!line_feed)
            break;
        line = line_feed + 1;
    }
    return style;
}

std::string_view colon_of(const Source &source, const Entry &member)
{
    std::string_view colon = source.original(past_string(member.start), member.value);
    return only_of(colon, " \t:", ": ");
}

// The layout of the entries of `container`, `style` where it shows none.
Style style_of(const Source &source, const Container &container, Style style)
{
    if (container.count == 0) {
        style.multi_line = memchr(container.open, '\n', size_t(container.close - container.open));
        style.indent = indentation(source, container.open);
        style.one_level_in = true;
        return style;
    }
    const Entry &first = container.first;
    style.multi_line = memchr(container.open, '\n', size_t(first.start - container.open));
    style.indent = indentation(source, container.last.start);
    std::string_view outer = indentation(source, container.open);
    std::string_view inner = indentation(source, first.start);
    if (style.multi_line && inner.size() > outer.size() && inner.substr(0, outer.size()) == outer)
        style.unit = inner.substr(outer.size());
    if (container.is_object())
        style.colon = colon_of(source, first);
    // With one entry, spaced as the colons are.
    style.comma = style.colon.back() == ' ' ? " " : "";
    if (container.count > 1)
        style.comma =
            only_of(source.original(first.comma + 1, container.second.start), " \t", style.comma);
    style.padding = only_of(source.original(container.open + 1, first.start), " \t", "");
    return style;
}

void put_indent(TextBuilder &out, const Style &style, size_t levels)
{
    out.put(style.indent);
    if (style.one_level_in)
        out.put(style.unit);
    for (size_t level = 0; level < levels; level++)
        out.put(style.unit);
}

bool is_filled_container(const JSON_Value *value)
{
    return json_object_get_count(json_value_get_object(value)) > 0 ||
           json_array_get_count(json_value_get_array(value)) > 0;
}

// A string literal as the writer wrote it, but a solidus unescaped: paths
// and addresses read as they are typed.
void put_literal(TextBuilder &out, const char *quote, const char *end)
{
    for (const char *cursor = quote; cursor < end; cursor++) {
        if (*cursor == '\\' && cursor[1] == '/')
            continue;
        out.put(*cursor);
        if (*cursor == '\\')
            out.put(*++cursor);
    }
}

// A number as the writer wrote it, but without the zeros its "%f" form (six
// decimals) leaves after the last digit that counts: 52.5167, not 52.516700;
// the same decimal, the same double. A literal kept as it was read has no
// such form and stays whole. Past it.
const char *put_number(TextBuilder &out, const char *number)
{
    const size_t length = strcspn(number, ",]} \n");
    std::string_view text(number, length);
    if (length > 7 && text[length - 7] == '.' && text.find_first_of("eE") == text.npos) {
        text.remove_suffix(text.size() - 1 - text.find_last_not_of('0'));
        if (text.back() == '.')
            text.remove_suffix(1);
    }
    out.put(text);
    return number + length;
}

// `value` in the layout of `style`: a filled container on lines of its own
// where the entries around it are, each line indented from theirs, else on
// one line with the spacing found.
void put_value(TextBuilder &out, const JSON_Value *value, const Style &style)
{
    const bool on_lines = style.multi_line && is_filled_container(value);
    TextPtr text(on_lines ? json_serialize_to_string_pretty(value)
                          : json_serialize_to_string(value));
    if (!text)
        return out.fail();
    for (const char *cursor = text.get(); *cursor;) {
        switch (*cursor) {
        case '"': {
            const char *end = past_string(cursor);
            put_literal(out, cursor, end);
            cursor = end;
            continue;
        }
        case '\n': {
            size_t spaces = strspn(cursor + 1, " ");
            out.put(style.eol);
            put_indent(out, style, spaces / 4);  // the writer's unit
            cursor += 1 + spaces;
            continue;
        }
        case ':':
            out.put(style.colon);
            cursor += on_lines ? 2 : 1;  // the writer's own ": "
            continue;
        case ',':
            out.put(',');
            if (!on_lines)
                out.put(style.comma);
            break;
        case '{':
        case '[':
            out.put(*cursor);
            if (!on_lines && cursor[1] != '}' && cursor[1] != ']')
                out.put(style.padding);
            break;
        case '}':
        case ']':
            if (!on_lines && cursor[-1] != '{' && cursor[-1] != '[')
                out.put(style.padding);
            out.put(*cursor);
            break;
        default:
            if (*cursor == '-' || (*cursor >= '0' && *cursor <= '9')) {
                cursor = put_number(out, cursor);
                continue;
            }
            out.put(*cursor);
        }
        cursor++;
    }
}

void put_member(TextBuilder &out, std::string_view name, const JSON_Value *value,
                const Style &style)
{
    ValuePtr quoted(new_string_copy(name));
    if (!quoted)
        return out.fail();
    put_value(out, quoted.get(), style);
    out.put(style.colon);
    put_value(out, value, style);
}

// ---- Edits

// One edit: the bytes [from, to) of the text give way to `written` bytes.
struct Splice {
    const char *from = nullptr;
    const char *to = nullptr;
    size_t written = 0;
};

// The new text: the text to `from`, what `middle` writes, the text from `to`.
template <typename Middle>
Splice splice(TextBuilder &out, const Source &source, const char *from, const char *to,
              Middle middle)
{
    out.put(source.original(source.lexed, from));
    size_t before = out.length();
    middle();
    Splice done{from, to, out.length() - before};
    out.put(source.original(to, source.lexed_end));
    return done;
}

// What the walk found: the container that holds the entry (or is to hold the
// first step missing) and how many steps from there on are missing.
struct Place {
    Container holder;
    size_t missing = 0;
    Style style;  // the text's own
};

// A container among entries that are containers on one line is written on
// one line too, spaced as the entry `neighbour` is.
Style beside(const Source &source, const Entry &neighbour, const JSON_Value *value, Style style)
{
    if (!neighbour.start || (*neighbour.value != '{' && *neighbour.value != '[') ||
        !is_filled_container(value))
        return style;
    NameReader names(source.lexed_end);
    Container model;
    read_container(neighbour.value, {}, SIZE_MAX, names, model);
    const Style found = style_of(source, model, style);
    if (model.count == 0 || found.multi_line)
        return style;
    style.padding = found.padding;
    style.comma = found.comma;
    style.colon = model.count > 0 && model.is_object() ? found.colon : style.colon;
    style.multi_line = false;
    return style;
}

Splice replace_entry(TextBuilder &out, const Source &source, const Place &place,
                     const JSON_Value *value)
{
    const Entry &entry = place.holder.found;
    Style style = style_of(source, place.holder, place.style);
    if (*entry.value == '{' || *entry.value == '[') {
        // A container keeps its own layout: on lines, or on one line.
        NameReader names(source.lexed_end);
        Container old;
        read_container(entry.value, {}, SIZE_MAX, names, old);
        style = style_of(source, old, style);
        style.one_level_in = false;
    }
    style.indent = indentation(source, entry.start);
    return splice(out, source, entry.value, entry.value_end, [&] { put_value(out, value, style); });
}

// A new last entry, after the last one and any comment on its line, before
// any comment on lines of its own.
Splice append_entry(TextBuilder &out, const Source &source, const Place &place,
                    std::string_view name, const JSON_Value *value)
{
    const Container &holder = place.holder;
    const Style style = style_of(source, holder, place.style);
    const Style value_style = beside(source, holder.last, value, style);
    auto entry = [&] {
        if (holder.is_object())
            put_member(out, name, value, value_style);
        else
            put_value(out, value, value_style);
    };
    if (holder.count == 0) {
        const char *line_feed = line_feed_after(holder.open + 1);
        if (!style.multi_line || !line_feed)
            return splice(out, source, holder.open + 1, holder.open + 1, entry);
        const char *at = before_line_end(source, line_feed);
        return splice(out, source, at, at, [&] {
            out.put(line_end_of(source, line_feed));
            put_indent(out, style, 0);
            entry();
        });
    }
    const char *last_end = holder.last.value_end;
    if (!style.multi_line) {
        return splice(out, source, last_end, last_end, [&] {
            out.put(',');
            out.put(style.comma);
            entry();
        });
    }
    const char *line_feed =
        static_cast<const char *>(memchr(last_end, '\n', size_t(holder.close - last_end)));
    const char *at = line_feed ? before_line_end(source, line_feed) : holder.close;
    return splice(out, source, last_end, at, [&] {
        out.put(',');
        out.put(source.original(last_end, at));
        out.put(line_feed ? line_end_of(source, line_feed) : style.eol);
        put_indent(out, style, 0);
        entry();
    });
}

// A new item where the item `place` found stands, which moves up by one.
Splice insert_item(TextBuilder &out, const Source &source, const Place &place,
                   const JSON_Value *value)
{
    const Entry &entry = place.holder.found;
    Style style = style_of(source, place.holder, place.style);
    style.indent = indentation(source, entry.start);
    const Style value_style = beside(source, entry, value, style);
    if (style.multi_line && starts_line(source, entry.start)) {
        const char *at = line_start(source, entry.start);
        return splice(out, source, at, at, [&] {
            out.put(style.indent);
            put_value(out, value, value_style);
            out.put(',');
            out.put(style.eol);
        });
    }
    return splice(out, source, entry.start, entry.start, [&] {
        put_value(out, value, value_style);
        out.put(',');
        out.put(style.comma);
    });
}

// The entry and its separator go; an entry on lines of its own takes those
// lines with it, and comments on lines of their own stay.
Splice remove_entry(TextBuilder &out, const Source &source, const Place &place)
{
    const Container &holder = place.holder;
    const Entry &entry = holder.found, &before = holder.before_found;
    const bool is_last = !entry.comma;
    const char *line_feed = line_feed_after(entry.end());
    if (style_of(source, holder, place.style).multi_line && line_feed &&
        starts_line(source, entry.start)) {
        const char *from = line_start(source, entry.start);
        if (is_last && before.start) {
            return splice(out, source, before.comma, line_feed + 1,
                          [&] { out.put(source.original(before.comma + 1, from)); });
        }
        return splice(out, source, from, line_feed + 1, [] {});
    }
    if (!is_last) {
        const char *to = entry.comma + 1;
        to += strspn(source.original(to), " \t");
        return splice(out, source, entry.start, to, [] {});
    }
    return splice(out, source, before.start ? before.comma : entry.start, entry.value_end, [] {});
}

// ---- The walk

bool refuse(const Source &source, const char *place, std::string_view reason, JSON_Error *error)
{
    report_place(source.text, size_t(place - source.lexed), reason, error);
    return false;
}

// Follows `steps` through the text as far as they lead.
bool find_place(const Source &source, const Steps &steps, const Change &change, Place &place,
                JSON_Error *error)
{
    NameReader names(source.lexed_end);
    place.style = text_style(source);
    const char *at = skip_space(source.lexed);
    if (steps.count == 0)
        return refuse(source, at, "the root itself, which no edit replaces or removes", error);
    for (size_t i = 0; i < steps.count; i++) {
        const bool is_array = *at == '[';
        size_t index = SIZE_MAX;
        if (*at != '{' && !(is_array && change.through_arrays))
            return refuse(source, at, "not an object, and the location goes on inside it", error);
        if (is_array && steps.step[i] != "-" && !token_index(steps.step[i], index))
            return refuse(source, at, "an array, and the location names no index of it", error);
        read_container(at, steps.step[i], index, names, place.holder);
        if (i == 0 && place.holder.is_object() && place.holder.count > 0)
            place.style.colon = colon_of(source, place.holder.first);
        if (!place.holder.found.start) {
            place.missing = steps.count - i;
            if (is_array && index != SIZE_MAX && index > place.holder.count)
                return refuse(source, at, "an array with fewer items than the index", error);
            break;
        }
        at = place.holder.found.value;
    }
    const char *open = place.holder.open;
    if (place.missing > 0 && !change.value)
        return refuse(source, open, "nothing at the location to remove", error);
    if (place.missing > 1 && !change.makes_objects)
        return refuse(source, open, "no container on the way to the location", error);
    if (place.missing > 0 && place.holder.is_object() && place.holder.count >= JSON_MAX_MEMBERS)
        return refuse(source, open, "an object holding the most members it can already", error);
    return true;
}

// The objects a dotted store makes on the way, holding a copy of `value`:
// the value of the member named by the first missing step.
ValuePtr wrapped_value(const Steps &steps, size_t first_missing, const JSON_Value *value)
{
    ValuePtr inner(json_value_deep_copy(value));
    for (size_t i = steps.count; inner && i-- > first_missing + 1;) {
        ValuePtr outer(json_value_init_object());
        TextPtr name(copy_text(steps.step[i]));
        if (!outer || !name ||
            json_object_set_value(json_value_get_object(outer.get()), name.get(), inner.get()) !=
                JSONSuccess)
            return nullptr;
        inner.release();
        inner = std::move(outer);
    }
    return inner;
}

Splice write_edit(TextBuilder &out, const Source &source, const Steps &steps, const Change &change,
                  const Place &place)
{
    if (!change.value)
        return remove_entry(out, source, place);
    if (place.missing == 0) {
        // An array takes a new item in, as a pointer's add does.
        if (!place.holder.is_object())
            return insert_item(out, source, place, change.value);
        return replace_entry(out, source, place, change.value);
    }
    const size_t first_missing = steps.count - place.missing;
    ValuePtr value(wrapped_value(steps, first_missing, change.value));
    if (!value) {
        out.fail();
        return {};
    }
    return append_entry(out, source, place, steps.step[first_missing], value.get());
}

// ---- The check before a text is handed out

// Where a place of the new text lies in the text given: the start of the
// splice for a place inside what it wrote.
size_t place_in_source(const Source &source, const Splice &splice, size_t offset)
{
    size_t from = size_t(splice.from - source.lexed);
    if (offset < from)
        return offset;
    if (offset < from + splice.written)
        return from;
    return offset - splice.written + size_t(splice.to - splice.from);
}

bool read_back_as(const Source &source, const Splice &splice, const char *edited, size_t length,
                  const JSON_Value *expected, JSON_Error *error)
{
    JSON_Error check;
    ValuePtr document(parse_lossless(edited, length, &check));
    if (!document && check.line == 0) {
        report_failure(check.reason, error);  // memory ran out
        return false;
    }
    if (!document) {
        ReasonLine reason;
        reason.append("the edited text would not be read whole: ").append(check.reason);
        report_place(source.text, place_in_source(source, splice, check.offset), reason.text(),
                     error);
        return false;
    }
    if (!json_value_equals(document.get(), expected)) {
        // A not-a-number equals nothing, itself included: no text holding
        // one can be shown to read back right.
        const char *reason =
            json_value_equals(expected, expected)
                ? "the edited text would not read back as the changed document"
                : "the document holds a not-a-number, which no read-back can check";
        report_place(source.text, size_t(splice.from - source.lexed), reason, error);
        return false;
    }
    return true;
}

// The document of the text with the change made through the tree calls.
ValuePtr changed_document(ValuePtr document, const Change &change, JSON_Error *error)
{
    ValuePtr value(change.value ? json_value_deep_copy(change.value) : nullptr);
    if (change.value && !value) {
        report_failure("out of memory", error);
        return nullptr;
    }
    if (change.apply(document.get(), change.location, value.get()) != JSONSuccess) {
        report_failure(
            "the document refuses the change: a name that is not UTF-8, or memory ran out", error);
        return nullptr;
    }
    value.release();
    return document;
}

}  // namespace

char *jsontree::detail::edit_text(const char *text, size_t length, const Steps &steps,
                                  const Change &change, size_t *new_length, JSON_Error *error)
{
    if (change.value && json_serialization_size(change.value) == 0) {
        report_failure("the value has no JSON text (a number not finite, or nested too deep)",
                       error);
        return nullptr;
    }
    if (!text) {
        report_failure("no text", error);
        return nullptr;
    }
    TextPtr source_text(copy_text({text, length}));
    TextPtr lexed(copy_text({text, length}));
    if (!source_text || !lexed) {
        report_failure("out of memory", error);
        return nullptr;
    }
    // Nothing the comment rules hide, no NUL, nothing after the root: the
    // blanked copy then reads as the document does.
    ValuePtr document(parse_lossless(source_text.get(), length, error));
    if (!document)
        return nullptr;
    blank_comments_in_one_pass(lexed.get());
    const Source source{source_text.get(), lexed.get(), lexed.get() + length};
    Place place;
    if (!find_place(source, steps, change, place, error))
        return nullptr;
    ValuePtr expected(changed_document(std::move(document), change, error));
    if (!expected)
        return nullptr;
    TextBuilder out;
    Splice done = write_edit(out, source, steps, change, place);
    size_t edited_length = out.length();
    TextPtr edited(out.release());
    if (!edited) {
        report_failure("out of memory", error);
        return nullptr;
    }
    if (!read_back_as(source, done, edited.get(), edited_length, expected.get(), error))
        return nullptr;
    if (new_length)
        *new_length = edited_length;
    report_success(error);
    return edited.release();
}
