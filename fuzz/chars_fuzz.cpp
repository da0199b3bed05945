// Character classes against the code points they stand for: classify() must
// find exactly the white space and line breaks of the host's string methods,
// and strip / standardize_spaces / is_standard must agree with a plain walk
// over those classes.
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "text/chars.hpp"

using namespace tessel::text;

namespace {

// str.splitlines() ends lines here; str.isspace() holds for these and the
// spaces below.
constexpr char32_t kLineBreaks[] = {0x0A, 0x0B, 0x0C, 0x0D, 0x1C, 0x1D,
                                    0x1E, 0x85, 0x2028, 0x2029};
constexpr char32_t kSpaces[] = {0x09, 0x1F, 0x20, 0xA0, 0x1680, 0x2000, 0x2001,
                                0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007,
                                0x2008, 0x2009, 0x200A, 0x202F, 0x205F, 0x3000};

std::string utf8(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

// The class of the character that starts `rest`, from the tables above.
CharClass reference_class(std::string_view rest) {
    struct Entry {
        std::string bytes;
        Kind kind;
    };
    static const std::vector<Entry> entries = [] {
        std::vector<Entry> all{{"\r\n", Kind::LineBreak}};
        for (char32_t c : kLineBreaks) all.push_back({utf8(c), Kind::LineBreak});
        for (char32_t c : kSpaces) all.push_back({utf8(c), Kind::Space});
        return all;
    }();
    for (const Entry &e : entries)
        if (rest.starts_with(e.bytes))
            return {e.kind, static_cast<std::uint8_t>(e.bytes.size())};
    return {Kind::Ordinary, 1};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size) {
    const std::string_view text = as_text(data, size);

    std::string standard;
    std::size_t first_ordinary = text.size(), end_of_ordinary = 0;
    bool in_space = false;
    for (std::size_t i = 0; i < text.size();) {
        const CharClass want = reference_class(text.substr(i));
        const CharClass got = classify(data + i, data + size);
        FUZZ_CHECK(got.kind == want.kind && got.size == want.size);
        FUZZ_CHECK(maybe_special(data[i]) || want.kind == Kind::Ordinary);
        if (want.kind == Kind::Ordinary) {
            if (first_ordinary == text.size()) first_ordinary = i;
            end_of_ordinary = i + 1;
            standard += text[i];
            in_space = false;
        } else if (!in_space) {
            standard += ' ';
            in_space = true;
        }
        i += want.size;
    }

    const std::string_view stripped = strip(text);
    if (first_ordinary == text.size()) {
        FUZZ_CHECK(stripped.empty());
    } else {
        FUZZ_CHECK(stripped.data() == text.data() + first_ordinary);
        FUZZ_CHECK(stripped.size() == end_of_ordinary - first_ordinary);
    }

    std::string out = "kept";
    standardize_spaces(text, out);
    FUZZ_CHECK(out == "kept" + standard);
    FUZZ_CHECK(is_standard(text) == (standard == text));
    return 0;
}
