// Batch files: CSV and JSON read into rows, and rows made into render
// command lines.
#include "BatchFile.h"

#include <gtest/gtest.h>

#include <set>

using namespace lustra::cli;

namespace {

std::string value(const BatchRow &row, const std::string &column) {
    const BatchCell *cell = row.cell(column);
    return cell ? cell->values.at(0) : "<none>";
}

// The line a parse error names, or -1 when the text parses.
int errorLine(const std::string &text, BatchFormat format = BatchFormat::Csv) {
    try {
        parseBatchFile(text, format);
    } catch (const BatchFileError &error) {
        return error.line();
    }
    return -1;
}

} // namespace

TEST(BatchCsv, QuotesLineBreaksBomAndEmptyCells) {
    const std::string text = "\xEF\xBB\xBF"
                             "Text , output,Name\r\n"
                             "\"NIGHT, NEWS\",a.png,x\r\n"
                             "\"say \"\"hi\"\"\",b.png,\r\n"
                             "\r\n"
                             "\"two\r\nlines\",c.png,\"\"\n"
                             "plain,d.png,\"caf\xC3\xA9\"";
    const BatchTable table = parseBatchFile(text, BatchFormat::Csv);
    EXPECT_EQ(table.columns, (std::vector<std::string>{"text", "output", "name"}));
    ASSERT_EQ(table.rows.size(), 4u);
    EXPECT_EQ(value(table.rows[0], "text"), "NIGHT, NEWS");
    EXPECT_EQ(value(table.rows[1], "text"), "say \"hi\"");
    EXPECT_EQ(value(table.rows[1], "name"), "<none>"); // empty cell: left out
    EXPECT_EQ(value(table.rows[2], "text"), "two\nlines");
    EXPECT_EQ(value(table.rows[2], "name"), "<none>"); // "" too
    EXPECT_EQ(value(table.rows[3], "name"), "caf\xC3\xA9");
    // Numbers and lines: the blank line is skipped, the quoted break counts.
    EXPECT_EQ(table.rows[2].number, 3);
    EXPECT_EQ(table.rows[2].line, 5);
    EXPECT_EQ(table.rows[3].line, 7);
    // A last line without a line break, a trailing comma's empty field.
    const BatchTable trailing = parseBatchFile("a,b\nx,", BatchFormat::Csv);
    ASSERT_EQ(trailing.rows.size(), 1u);
    EXPECT_EQ(value(trailing.rows[0], "b"), "<none>");
    // Semicolons when the header has no comma.
    const BatchTable semicolons =
        parseBatchFile("\ntext;output\n\"a;b, c\";x.png\n", BatchFormat::Csv);
    EXPECT_EQ(value(semicolons.rows.at(0), "text"), "a;b, c");
    EXPECT_EQ(value(semicolons.rows.at(0), "output"), "x.png");
    EXPECT_EQ(parseBatchFile("text\na;b\n", BatchFormat::Csv).columns.size(), 1u);
}

TEST(BatchCsv, MalformedFilesNameTheLine) {
    EXPECT_EQ(errorLine("text,output\n\"open,a.png\nb,c\n"), 2);     // quote never closed
    EXPECT_EQ(errorLine("text,output\nx,a.png\nsa\"y,b.png\n"), 3);  // quote inside a field
    EXPECT_EQ(errorLine("text,output\n\"x\"y,a.png\n"), 2);          // text after the quote
    EXPECT_EQ(errorLine("text,output\nx,a.png,extra\n"), 2);         // too many fields
    EXPECT_EQ(errorLine("text,output\nx\n"), 2);                     // too few
    EXPECT_EQ(errorLine("text,Text\n"), 1);                          // a column twice
    EXPECT_EQ(errorLine("text,,output\n"), 1);                       // a column without a name
    EXPECT_EQ(errorLine("text,output\nok,a.png\n\xC3(,b.png\n"), 3); // not UTF-8
    EXPECT_EQ(errorLine("text,output\n\xED\xA0\x80,a.png\n"), 2);    // a surrogate
    EXPECT_EQ(errorLine("\n\n"), 0);                                 // no header
}

TEST(BatchJson, RowsListsAndStrictness) {
    const std::string text = R"([
  {"Text": "caf\u00e9 \ud83d\ude00\n2", "output": "a.png", "set": ["glowOn=on", "bevelWidth=12"]},
  {"output": "b.png", "frames": 10, "preset": null, "flag": true}
])";
    const BatchTable table = parseBatchFile(text, BatchFormat::Json);
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(value(table.rows[0], "text"), "caf\xC3\xA9 \xF0\x9F\x98\x80\n2");
    EXPECT_EQ(table.rows[0].cell("set")->values,
              (std::vector<std::string>{"glowOn=on", "bevelWidth=12"}));
    EXPECT_EQ(value(table.rows[1], "frames"), "10");
    EXPECT_EQ(value(table.rows[1], "preset"), "<none>");
    EXPECT_EQ(value(table.rows[1], "flag"), "true");
    EXPECT_EQ(value(table.rows[1], "text"), "<none>"); // a column of another row
    EXPECT_EQ(table.rows[1].line, 3);
    EXPECT_TRUE(parseBatchFile(" [ ] ", BatchFormat::Json).rows.empty());

    const auto json = BatchFormat::Json;
    EXPECT_EQ(errorLine("{\"output\": \"a.png\"}", json), 1);      // not an array
    EXPECT_EQ(errorLine("[{\"output\": \"a.png\"},\n]", json), 2); // trailing comma
    EXPECT_EQ(errorLine("[{\"a\": 1,\n \"A\": 2}]", json), 2);     // a member twice
    EXPECT_EQ(errorLine("[{\"a\": {\"b\": 1}}]", json), 1);        // an object inside
    EXPECT_EQ(errorLine("[{\"a\": [[1]]}]", json), 1);             // an array inside
    EXPECT_EQ(errorLine("[{\"a\": \"\\ud800\"}]", json), 1);       // a lone surrogate
    EXPECT_EQ(errorLine("[{\"a\": \"x\ny\"}]", json), 1);          // a raw line break
    EXPECT_EQ(errorLine("[{\"a\": 01}]", json), 1);                // not a JSON number
    EXPECT_EQ(errorLine("[{\"a\": 'x'}]", json), 1);               // single quotes
    EXPECT_EQ(errorLine("[] []", json), 1);                        // text after the end
    EXPECT_EQ(errorLine("[{\"a\": \"x\"}", json), 1);              // not closed
}

TEST(BatchJob, RenderArgumentsInOrderRowsWin) {
    const BatchTable table =
        parseBatchFile("name,role,title,background,set,animate,options,output\n"
                       "Ann Lee,Host,t.png,#102030,glowOn=on; bevelWidth=12,lightX=0:-100,"
                       "\"--field-wise --source 'fill1=my wood.png'\",out/{name}.png\n"
                       "a/b%,x,,,,,,\n",
                       BatchFormat::Csv);
    BatchDefaults defaults;
    defaults.renderArguments = {"--background", "bg.png", "--set", "fill1Mode=metal"};
    defaults.outputPattern = "titles/{row}-{name}.mp4";
    defaults.textTemplate = "{name}\\n{role}";
    const BatchJob first = makeBatchJob(table.rows[0], defaults);
    EXPECT_EQ(first.output, "out/Ann Lee.png");
    EXPECT_EQ(first.arguments,
              (std::vector<std::string>{"--background", "bg.png", "--set", "fill1Mode=metal",
                                        "--title", "t.png", "--text", "Ann Lee\nHost",
                                        "--background", "#102030", "--set", "glowOn=on", "--set",
                                        "bevelWidth=12", "--animate", "lightX=0:-100",
                                        "--field-wise", "--source", "fill1=my wood.png"}));
    // No output column value: the -o pattern; a value never makes a folder
    // or a frame number.
    EXPECT_EQ(makeBatchJob(table.rows[1], defaults).output, "titles/2-a_b_.mp4");

    auto failsWith = [&](const std::string &csv, const BatchDefaults &d) {
        try {
            makeBatchJob(parseBatchFile(csv, BatchFormat::Csv).rows.at(0), d);
        } catch (const BatchFileError &error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(failsWith("text\nx\n", {}).find("no output"), std::string::npos);
    EXPECT_NE(failsWith("text,output\nx,{nmae}.png\n", {}).find("not a column"), std::string::npos);
    EXPECT_NE(failsWith("text,name,output\nx,,{name}.png\n", {}).find("empty"), std::string::npos);
    EXPECT_NE(failsWith("text,output\nx,a}.png\n", {}).find("lone }"), std::string::npos);
    EXPECT_NE(failsWith("options,output\n-o x.png,a.png\n", {}).find("output column"),
              std::string::npos);
    EXPECT_NE(failsWith("options,output\n\"'open\",a.png\n", {}).find("not closed"),
              std::string::npos);
    EXPECT_EQ(expandTemplate("{{{row}}}", table.rows[0], true), "{1}");
}

TEST(BatchJob, TextColumnAndShards) {
    const BatchTable table =
        parseBatchFile("text,output\n\"  Two\nlines \",a.png\n", BatchFormat::Csv);
    const BatchJob job = makeBatchJob(table.rows[0], {});
    EXPECT_EQ(job.arguments, (std::vector<std::string>{"--text", "  Two\nlines "}));

    // Every row in exactly one shard, shares differing by one row at most.
    for (int count : {1, 2, 5, 12, 13}) {
        std::vector<int> sizes(count, 0);
        for (int row = 1; row <= 12; ++row) {
            int owners = 0;
            for (int index = 1; index <= count; ++index)
                if (inShard(row, index, count)) ++owners, ++sizes[index - 1];
            EXPECT_EQ(owners, 1) << row << " of " << count;
        }
        EXPECT_LE(*std::max_element(sizes.begin(), sizes.end()) -
                      *std::min_element(sizes.begin(), sizes.end()),
                  1);
    }
}
