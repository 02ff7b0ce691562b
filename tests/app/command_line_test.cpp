// Command-line parsing: switches, values, quoted groups, and how a batch
// run's arguments fall out of a Windows-style line.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include "platform/winapi.h"

#include <vector>

namespace {

struct Arg {
    std::u16string sw;
    std::u16string value;
    friend bool operator==(const Arg&, const Arg&) = default;
};

// Every argument after the program name, as GetFirstArg/GetNextArg give them.
std::vector<Arg> ParseWith(CCommandLine& cmd) {
    CString sw;
    CString value;
    std::vector<Arg> args;
    cmd.GetFirstArg(sw, value);
    if (sw.IsEmpty() && value.IsEmpty())
        return args;
    args.push_back({sw.str(), value.str()});
    while (cmd.GetNextArg(sw, value)) args.push_back({sw.str(), value.str()});
    return args;
}

std::vector<Arg> Parse(const char16_t* line) {
    CCommandLine cmd{CString(line)};
    return ParseWith(cmd);
}

// The process's own arguments, as main hands them over.
std::vector<Arg> ParseArguments(std::vector<const char*> argv) {
    argv.insert(argv.begin(), "/usr/bin/tabrook");
    SetProcessCommandLine(static_cast<int>(argv.size()), const_cast<char**>(argv.data()));
    CCommandLine cmd;
    return ParseWith(cmd);
}

TEST(CommandLine, ValuesSwitchesAndSwitchValues) {
    EXPECT_EQ(Parse(u"tabrook -a in.xls"), (std::vector<Arg>{{u"a", u"in.xls"}}));
    EXPECT_EQ(Parse(u"tabrook in.xls -x -y out.txt"),
              (std::vector<Arg>{{u"", u"in.xls"}, {u"x", u""}, {u"y", u"out.txt"}}));
    EXPECT_EQ(Parse(u"tabrook /A a.xls b.txt"),
              (std::vector<Arg>{{u"A", u"a.xls"}, {u"", u"b.txt"}}));
}

TEST(CommandLine, ProgramPathIsNeverASwitch) {
    EXPECT_EQ(Parse(u"/usr/bin/tabrook in.xls"), (std::vector<Arg>{{u"", u"in.xls"}}));
    EXPECT_EQ(Parse(u"\"/opt/my apps/tabrook\" -a in.xls"), (std::vector<Arg>{{u"a", u"in.xls"}}));
}

TEST(CommandLine, OnlyTheProgramNameGivesNothing) {
    CCommandLine cmd{CString(u"  tabrook  ")};
    CString sw = u"junk";
    CString value = u"junk";
    cmd.GetFirstArg(sw, value);
    EXPECT_TRUE(sw.IsEmpty());
    EXPECT_TRUE(value.IsEmpty());
    EXPECT_FALSE(cmd.GetNextArg(sw, value));
    EXPECT_FALSE(cmd.GetNextArg(sw, value));
}

TEST(CommandLine, QuotedGroupsKeepTheirSpacesExactly) {
    EXPECT_EQ(Parse(u"\"/opt/my apps/tabrook\" \"a  b.xls\" out.txt"),
              (std::vector<Arg>{{u"", u"a  b.xls"}, {u"", u"out.txt"}}));
    EXPECT_EQ(Parse(u"p \"-\" x"), (std::vector<Arg>{{u"", u"-"}, {u"", u"x"}}));
    EXPECT_EQ(Parse(u"p a \" x"), (std::vector<Arg>{{u"", u"a"}, {u"", u""}, {u"", u"x"}}));
    EXPECT_EQ(Parse(u"p a \"\" x"), (std::vector<Arg>{{u"", u"a"}, {u"", u""}, {u"", u"x"}}));
    // An unclosed group takes the rest of the line.
    EXPECT_EQ(Parse(u"p a \"b  c d"), (std::vector<Arg>{{u"", u"a"}, {u"", u"b  c d"}}));
    // Quotes inside or at the end of a plain token are kept.
    EXPECT_EQ(Parse(u"p a\"b c\""), (std::vector<Arg>{{u"", u"a\"b"}, {u"", u"c\""}}));
}

TEST(CommandLine, TabsDoNotSeparateAndOuterWhiteSpaceIsIgnored) {
    EXPECT_EQ(Parse(u" \t p a\tb c \t "), (std::vector<Arg>{{u"", u"a\tb"}, {u"", u"c"}}));
}

TEST(CommandLine, BareDashShiftsLaterValues) {
    EXPECT_EQ(
        Parse(u"p in.xls out.txt S UTF-8 - Unix"),
        (std::vector<Arg>{
            {u"", u"in.xls"}, {u"", u"out.txt"}, {u"", u"S"}, {u"", u"UTF-8"}, {u"", u"Unix"}}));
}

TEST(CommandLine, GetFirstArgRestarts) {
    CCommandLine cmd{CString(u"p one two")};
    CString sw;
    CString value;
    cmd.GetFirstArg(sw, value);
    cmd.GetNextArg(sw, value);
    EXPECT_EQ(value, u"two");
    cmd.GetFirstArg(sw, value);
    EXPECT_EQ(value, u"one");
}

}  // namespace

namespace {

// Each argument the process gets reads back exactly as given: what no
// quoting of a one-line form can carry (a leading space, a quote before a
// space, a path beginning with "-" or "/") included.
TEST(CommandLine, TheProcesssArgumentsReadBackExactly) {
    EXPECT_EQ(
        ParseArguments({"/a", "-in.xls", "/tmp/o \" x\".txt", " Sheet1", " ", "\"a\" b", "Unix"}),
        (std::vector<Arg>{{u"a", u"-in.xls"},
                          {u"", u"/tmp/o \" x\".txt"},
                          {u"", u" Sheet1"},
                          {u"", u" "},
                          {u"", u"\"a\" b"},
                          {u"", u"Unix"}}));
    // Switches are "/" or "-" and letters; a delimiter typed '"-"' is "-".
    EXPECT_EQ(ParseArguments({"book.xls", "-", "\"-\"", "", "\"\""}),
              (std::vector<Arg>{{u"", u"book.xls"}, {u"", u"-"}, {u"", u""}, {u"", u""}}));
    EXPECT_EQ(ParseArguments({"-A"}), (std::vector<Arg>{{u"A", u""}}));
    EXPECT_EQ(ParseArguments({}), (std::vector<Arg>{}));
}

}  // namespace
