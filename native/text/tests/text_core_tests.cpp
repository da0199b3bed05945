// Unit tests of the reader's text core, with no Python in the process.
//
// Each check prints what differs; the exit status is the number of failed
// checks (0: all passed).
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "text/location.hpp"
#include "text/netlist.hpp"
#include "text/number.hpp"
#include "text/relevant_lines.hpp"
#include "text/value.hpp"
#include "text/words.hpp"

using namespace tessel::text;

namespace {

int failures = 0;

void check(bool ok, const char *what, int line) {
    if (ok) return;
    ++failures;
    std::printf("FAILED line %d: %s\n", line, what);
}
#define CHECK(expr) check((expr), #expr, __LINE__)

struct Line {
    std::string text;
    std::uint32_t first, last;
    bool operator==(const Line &) const = default;
};

std::vector<Line> scan(std::string_view content) {
    std::vector<Line> lines;
    RelevantLineScanner scanner(content);
    RelevantLine line;
    while (scanner.next(line))
        lines.push_back({std::string(line.text), line.where.first_line, line.where.last_line});
    return lines;
}

void relevant_lines() {
    CHECK(scan("R1 a b\n+ c=1\n+d=2\n") == (std::vector<Line>{{"R1 a b c=1 d=2", 1, 3}}));
    // A blank line breaks a continuation; the stray "+" line stands alone.
    CHECK(scan("R1 a b\n\n+ c=1") == (std::vector<Line>{{"R1 a b", 1, 1}, {"c=1", 3, 3}}));
    CHECK(scan("+ first\nx") == (std::vector<Line>{{"+ first", 1, 1}, {"x", 2, 2}}));
    CHECK(scan("* note\n+ more") == (std::vector<Line>{{"* note more", 1, 2}}));
    CHECK(scan(" \tR1\ta   b \n \t \n") == (std::vector<Line>{{"R1 a b", 1, 1}}));
    // Line ends as str.splitlines has them: CRLF is one, CR and U+2028 end lines too.
    CHECK(scan("a\r\nb\rc\xe2\x80\xa8" "d") ==
          (std::vector<Line>{{"a", 1, 1}, {"b", 2, 2}, {"c", 3, 3}, {"d", 4, 4}}));
    // U+3000 and U+00A0 are white space; U+00A9 is not.
    CHECK(scan("a\xe3\x80\x80 b\xc2\xa0\xc2\xa9") == (std::vector<Line>{{"a b \xc2\xa9", 1, 1}}));
    CHECK(scan("").empty());
    CHECK(scan("\n\n").empty());

    // A clean line is handed out as a view into the text.
    const std::string text = "X1 a b m\nX2 c  d m\n";
    RelevantLineScanner scanner(text);
    RelevantLine line;
    CHECK(scanner.next(line) && line.text.data() == text.data());
    CHECK(scanner.next(line) && line.text == "X2 c d m");
}

Words words_of(std::string_view statement) {
    Words words;
    split_words(statement, words);
    return words;
}

void statements() {
    CommentSplit split = split_comments("R1 a*b $ c");
    CHECK(split.statement == "R1 a*b" && split.comment == "$ c");
    split = split_comments("R1 a b * x $ y");
    CHECK(split.statement == "R1 a b * x" && split.comment == "$ y");
    split = split_comments("no comment");
    CHECK(!split.found && split.statement == "no comment" && split.comment.empty());

    CHECK(words_of("X1 \"a b\" c") == (Words{"X1", "\"a b\"", "c"}));
    CHECK(words_of("k='x y' z") == (Words{"k='x y'", "z"}));
    CHECK(words_of("a  b") == (Words{"a", "b"}));
    CHECK(words_of("a 'b \"c' d") == (Words{"a", "'b \"c'", "d"}));
    CHECK(words_of("x 'open rest") == (Words{"x", "'open rest"}));
    // Blanks and quotes on either side of the 16-byte blocks the splitter reads.
    CHECK(words_of("abcdefghijklmno p='q r s t u v w x y z' \"1 2\" last") ==
          (Words{"abcdefghijklmno", "p='q r s t u v w x y z'", "\"1 2\"", "last"}));
    CHECK(words_of("0123456789abcdef 0123456789abcdef") == (Words{"0123456789abcdef", "0123456789abcdef"}));

    // WordSplitter keeps the empty words that split_words drops.
    WordSplitter splitter("a  b");
    std::string_view word;
    Words all;
    while (splitter.next(word)) all.push_back(word);
    CHECK(all == (Words{"a", "", "b"}));

    Arena arena;
    Words w{"out", "0", "VCVS", "in", "2", "3"};
    rewrite_sources(w, arena, [](std::string_view) { return false; });
    CHECK(w == (Words{"in", "out", "0", "VCVS", "in=", "gain=2", "unknown1=3"}));
    Words none{"a", "b", "c"};
    rewrite_sources(none, arena, [](std::string_view) { return false; });
    CHECK(none == (Words{"a", "b", "c"}));

    SettingWord s = split_setting("k=1=2");
    CHECK(s.parts == 3);
    s = split_setting("=v");
    CHECK(s.parts == 2 && s.key.empty() && s.value == "v");
}

std::optional<Number> read_number(std::string_view value) {
    std::string buffer;
    return value_number(read_value(value, buffer), [](std::string_view, std::string &) { return false; });
}

std::optional<double> number(std::string_view value) {
    std::optional<Number> n = read_number(value);
    return n ? std::optional<double>(n->value) : std::nullopt;
}

double micrometres(std::string_view value) { return read_number(value)->micrometres; }

void values() {
    CHECK(number("10") == 10.0);
    CHECK(number("2.5m") == 0.0025);
    CHECK(number("2.5M") == 0.0025);
    CHECK(number("1e-6") == 1e-6);
    CHECK(number("10u") == 1e-05);
    CHECK(number("0.2u") == 2e-07 && micrometres("0.2u") == 0.2);
    CHECK(number("100u") == 1e-04 && micrometres("100u") == 100.0);
    CHECK(number("5x") == 5.0);
    CHECK(number("'5u'") == 5e-06);
    CHECK(!number("1meg"));
    CHECK(!number("abc"));
    CHECK(number("1_000") == 1000.0);
    CHECK(!number("0x10"));
    // A name is no number; the texts float() reads by name are.
    CHECK(!number("'w0'") && !number("_1") && !number("e5") && !number("'x1'"));
    CHECK(std::isinf(*number("inf")) && std::isinf(*number("Infinity")) && std::isinf(*number("'-inf'")));
    CHECK(std::isnan(*number("nan")) && std::isnan(*number("'NaN'")));
    CHECK(number(".5u") == 5e-07 && micrometres(".5u") == 0.5 && micrometres("2.25n") == 0.00225);

    std::string buffer;
    ValueText v = read_value("{1,2}", buffer);
    CHECK(v.text == "[1,2]" && !v.is_eval);
    v = read_value("\"'w'\"", buffer);
    CHECK(v.text == "w" && v.is_eval);
    v = read_value("'\"s\"'", buffer);
    CHECK(v.text == "\"s\"" && v.is_eval);

    CHECK(scan_float("-0").kind == FloatKind::number && scan_float("-0").value == 0.0);
    CHECK(scan_float(" 1.5 ").value == 1.5);
    CHECK(scan_float("1e400").value > 1e308);
    CHECK(scan_float("nan").kind == FloatKind::number);
    CHECK(scan_float("\xd9\xa3").kind == FloatKind::undecided);
    CHECK(scan_float("1.").value == 1.0 && scan_float(".").kind == FloatKind::not_number);
    CHECK(scan_float("0.30000000000000004").value == 0.30000000000000004);
}

void locations() {
    std::string buffer;
    LocationText l = read_location("$ just a note", buffer);
    CHECK(l.status == LocationText::Status::None);
    l = read_location("* location=(o1)(0,5u,180)", buffer);
    CHECK(l.status == LocationText::Status::Found && l.port == "o1" && l.coordinates == "0,5u,180");
    l = read_location("$ location=10,20,0 other words", buffer);
    CHECK(l.coordinates == "10,20,0" && l.port.empty());
    l = read_location("$ location=((1,2,3))", buffer);
    CHECK(l.coordinates == "1,2,3");
    l = read_location("$ location=1 location=2", buffer);
    CHECK(l.status == LocationText::Status::SeveralMarkers && l.parts == 3);
    l = read_location("$ location=(a)(b)(c)", buffer);
    CHECK(l.status == LocationText::Status::SeveralGroups && l.parts == 3);

    CoordinatePieces pieces(",,");
    std::string_view piece;
    int count = 0;
    while (pieces.next(piece)) count += piece.empty();
    CHECK(count == 3);
}

Netlist build(std::string_view text) {
    Netlist netlist;
    Steps steps;
    NetlistBuilder builder(netlist, steps);
    RelevantLineScanner scanner(text);
    RelevantLine line;
    while (scanner.next(line)) builder.feed(netlist.arena.store(line.text), line.where);
    return netlist;
}

BuildError::Kind error_of(std::string_view text, Position *where = nullptr) {
    try {
        build(text);
    } catch (const BuildError &error) {
        if (where) *where = error.where;
        return error.kind;
    }
    return static_cast<BuildError::Kind>(-1);
}

void netlists() {
    Netlist n = build("* title\n.subckt top a b w=1\nR1 a b r=10 $ note\nX1 a b\n+ mmi\n.ends\n");
    CHECK(n.elements.size() == 2 && n.subckts.size() == 1 && n.order.size() == 3);
    CHECK(n.elements[0].id == 3 && n.elements[0].component == "resistor" && n.elements[0].comment == "$ note");
    CHECK(n.elements[1].component == "mmi" && n.elements[1].where.first_line == 4 &&
          n.elements[1].where.last_line == 5);
    CHECK(n.subckts[0].closed && n.subckts[0].children.size == 2 && n.subckts[0].ports.size == 2);
    CHECK(n.comments.size() == 2 && n.comments[0].id == 1 && n.comments[1].id == 3);

    // Children read before an inner .subckt go to the inner one.
    n = build(".subckt outer\nX1 a m\n.subckt inner\nX2 a m\n.ends\nX3 a m\n.ends\n");
    CHECK(n.subckts[1].children.size == 2 && n.subckts[0].children.size == 1);
    CHECK(n.subckts[1].parent_id == 1 && n.order.back().is_subckt && n.order.back().index == 0);

    // Elements outside a subcircuit make no record; an open one is no record either.
    n = build("X0 a m\n.subckt s a\nX1 a m\n");
    CHECK(n.elements.size() == 1 && !n.subckts[0].closed && n.order.size() == 1);

    Position where;
    CHECK(error_of("\n\n.ends\n", &where) == BuildError::Kind::EndsBeforeBegin && where.first_line == 3);
    CHECK(error_of(".end") == BuildError::Kind::UnsupportedCommand);
    CHECK(error_of(".subckt") == BuildError::Kind::SubcktWithoutName);
    CHECK(error_of(".subckt s\nX1 k=1") == BuildError::Kind::ElementWithoutComponent);
}

}  // namespace

int main() {
    relevant_lines();
    statements();
    values();
    locations();
    netlists();
    if (failures == 0) std::printf("text core: all checks passed\n");
    return failures;
}
