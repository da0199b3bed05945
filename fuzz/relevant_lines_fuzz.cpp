// The one-pass relevant-line scanner against the five stages it fuses, done
// one after the other on whole lines: split at line breaks, trim, fold "+"
// lines into the line before, reduce white space, trim, drop empty lines.
// Its lines are also what the next stage relies on: non-empty, trimmed, single
// blanks only, each placed at raw lines that come in order.
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "text/chars.hpp"
#include "text/relevant_lines.hpp"

using namespace tessel::text;

namespace {

std::vector<std::string> scan(std::string_view text) {
    std::vector<std::string> lines;
    RelevantLineScanner scanner(text);
    RelevantLine line;
    std::uint32_t previous = 0;
    while (scanner.next(line)) {
        lines.emplace_back(line.text);
        FUZZ_CHECK(line.where.known() && line.where.first_line > previous &&
                   line.where.last_line >= line.where.first_line);
        // The first raw line of a statement gave it text.
        FUZZ_CHECK(!strip(raw_line(text, line.where.first_line)).empty());
        previous = line.where.last_line;
    }
    return lines;
}

std::vector<std::string> stage_by_stage(std::string_view text) {
    std::vector<std::string_view> raw;
    const unsigned char *p = bytes(text), *end = p + text.size(), *start = p;
    while (p < end) {
        const CharClass c = classify(p, end);
        if (c.kind == Kind::LineBreak) {
            raw.emplace_back(reinterpret_cast<const char *>(start), p - start);
            start = p + c.size;
        }
        p += c.size;
    }
    if (start < end) raw.emplace_back(reinterpret_cast<const char *>(start), end - start);

    std::vector<std::string> joined;
    for (std::string_view line : raw) {
        line = strip(line);
        if (!joined.empty() && line.starts_with('+'))
            (joined.back() += ' ') += strip(line.substr(1));
        else
            joined.emplace_back(line);
    }
    std::vector<std::string> lines;
    for (const std::string &line : joined) {
        std::string standard;
        standardize_spaces(line, standard);
        if (std::string_view kept = strip(standard); !kept.empty()) lines.emplace_back(kept);
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size) {
    const std::string_view text = as_text(data, size);
    const std::vector<std::string> lines = scan(text);
    FUZZ_CHECK(lines == stage_by_stage(text));
    for (const std::string &line : lines)
        FUZZ_CHECK(!line.empty() && strip(line) == line && is_standard(line));
    return 0;
}
