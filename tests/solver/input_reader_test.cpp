#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "solver/solver_loop.h"

namespace {

std::vector<InputLine> read_all(const std::string& input) {
    FILE* in = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    std::vector<InputLine> lines;
    for (;;) {
        lines.push_back(read_input_line(in));
        if (lines.back().end_of_input) break;
    }
    std::fclose(in);
    return lines;
}

TEST(ReadInputLine, SplitsLinesAndMarksTheEnd) {
    const struct {
        std::string name;
        std::string input;
        std::vector<std::string> texts;
    } cases[] = {
        {"ended by newline", "a b\nquit\n", {"a b", "quit", ""}},
        {"last line without newline", "x\nlast", {"x", "last"}},
        {"nothing", "", {""}},
        {"empty lines and carriage return", "\n\nq\r\n", {"", "", "q\r", ""}},
        {"nul kept inside", std::string("a\0b\n", 4), {std::string("a\0b", 3), ""}},
    };
    for (const auto& c : cases) {
        const std::vector<InputLine> lines = read_all(c.input);
        ASSERT_EQ(lines.size(), c.texts.size()) << c.name;
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].text, c.texts[i]) << c.name << " line " << i;
            EXPECT_EQ(lines[i].end_of_input, i + 1 == lines.size()) << c.name << " line " << i;
        }
    }
}

TEST(ReadInputLine, KeepsTheFirst64KiBOfALongLine) {
    std::string longer;
    for (size_t i = 0; longer.size() < 3 * kMaxLineBytes + 5; ++i)
        longer += std::to_string(i);
    const std::vector<InputLine> lines = read_all(longer + "\nnext\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, longer.substr(0, kMaxLineBytes));
    EXPECT_EQ(lines[1].text, "next");
}

} // namespace
