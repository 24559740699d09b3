#include "device/RecordFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

TEST(RecordFormat, LinesAndRowsSplitAsEveryReaderNeedsThem)
{
    std::vector<std::string> lines;
    recordfile::ForEachLine("h\r\n1,1,1\n\n\r\nlast", [&](std::string_view line) { lines.emplace_back(line); });
    EXPECT_EQ(lines, (std::vector<std::string>{"h", "1,1,1", "", "", "last"}));
    lines.clear();
    recordfile::ForEachLine("a\r", [&](std::string_view line) { lines.emplace_back(line); });
    EXPECT_EQ(lines, (std::vector<std::string>{"a\r"})); // a CR alone ends nothing

    struct Case { const char* line; const char* time; const char* voltage; const char* current; };
    const Case cases[] = {
        {"3,12.5,0.5", "3", "12.5", "0.5"}, {"2,5.00", "2", "", "5.00"},     {"5.00", "", "", "5.00"},
        {"1,2,3,4", "1", "2", "3,4"},       {"", "", "", ""},                 {",,", "", "", ""},
    };
    for (const Case& c : cases) {
        const recordfile::RowTexts texts = recordfile::SplitRow(c.line);
        EXPECT_EQ(texts.time, c.time) << c.line;
        EXPECT_EQ(texts.voltage, c.voltage) << c.line;
        EXPECT_EQ(texts.current, c.current) << c.line;
    }

    std::string out;
    recordfile::AppendLine(out, recordfile::kHeader);
    std::string row;
    recordfile::AppendSampleRow(row, 1, 5.0f, 0.0625f);
    recordfile::AppendLine(out, row);
    EXPECT_EQ(out, "Time(S),Voltage(V),Current(A)\r\n1,5.00,0.062\r\n");
}
