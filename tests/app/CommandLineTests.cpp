// The command line: which arguments go without a window before any application object
// exists, and what the parser makes of them.
#include "app/CommandLine.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct WindowCase {
    std::vector<const char*> args; // after the program's name
    bool noWindow;
};

void PrintTo(const WindowCase& c, std::ostream* out) {
    if (c.args.empty()) {
        *out << "no arguments";
    }
    for (const char* arg : c.args) {
        *out << arg << ' ';
    }
}

class NoWindowTest : public ::testing::TestWithParam<WindowCase> {};

TEST_P(NoWindowTest, DecidedFromArgv) {
    std::vector<const char*> argv{"Morvel"};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    EXPECT_EQ(NeedsNoWindow(static_cast<int>(argv.size()), argv.data()), GetParam().noWindow);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NoWindowTest,
    ::testing::Values(WindowCase{{}, false}, WindowCase{{"--batch"}, true},
                      WindowCase{{"--help"}, true}, WindowCase{{"-h"}, true},
                      WindowCase{{"--help-all"}, true}, WindowCase{{"--version"}, true},
                      WindowCase{{"-v"}, true}, WindowCase{{"-hv"}, true},
                      // The toolkit's own options of the windows.
                      WindowCase{{"-reverse"}, false}, WindowCase{{"-style", "fusion"}, false},
                      WindowCase{{"-platform", "offscreen", "--batch"}, true},
                      // A value, not an option.
                      WindowCase{{"--settings", "--batch"}, false},
                      WindowCase{{"--settings", "-h"}, false},
                      WindowCase{{"--settings=x.ini", "--batch"}, true},
                      WindowCase{{"--", "--batch"}, false}, WindowCase{{"--batchx"}, false}));

struct ParseCase {
    QStringList args;  // after the program's name
    const char* error; // "*": the parser's own text, whatever its words
    bool batch;
    const char* settings;
};

void PrintTo(const ParseCase& c, std::ostream* out) {
    *out << (c.args.isEmpty() ? "no arguments" : c.args.join(u' ').toStdString());
}

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, OptionsAndRefusals) {
    const ParseCase& c = GetParam();
    CommandLine line;
    const bool ok = line.parse(QStringList{"Morvel"} + c.args);
    if (QByteArray(c.error) == "*") {
        EXPECT_FALSE(line.errorText().isEmpty());
    } else {
        EXPECT_EQ(line.errorText(), QString::fromUtf8(c.error));
    }
    EXPECT_EQ(ok, line.errorText().isEmpty());
    if (ok) {
        EXPECT_EQ(line.batch(), c.batch);
        EXPECT_EQ(line.settingsPath(), QString::fromUtf8(c.settings));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseTest,
    ::testing::Values(
        ParseCase{{}, "", false, "Morvel.ini"}, ParseCase{{"--batch"}, "", true, "Morvel.ini"},
        ParseCase{{"--batch", "--settings", "a b.ini"}, "", true, "a b.ini"},
        ParseCase{{"--settings=/x/y.ini", "--batch"}, "", true, "/x/y.ini"},
        ParseCase{
            {"--settings", "a.ini"}, "La opción --settings solo vale con --batch.", false, ""},
        ParseCase{{"--batch", "otro.ini"}, "Argumento inesperado: otro.ini", false, ""},
        ParseCase{{"--batch", "--settings"}, "*", false, ""},
        ParseCase{{"--batch", "--nada"}, "*", false, ""},
        // Long options take two dashes; one dash runs letters together.
        ParseCase{{"-batch"}, "*", false, ""}));

QString SourceFile(const char* name) {
    QFile file(QStringLiteral(MORVEL_TEST_DATA_DIR "/../../") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return QString::fromUtf8(file.readAll());
}

// Without a display the program, run.sh and the README give one way to run it under Xvfb,
// on a 24-bit screen: Xvfb's own default is an 8-bit one that Qt cannot paint on.
TEST(NoDisplay, TheProgramRunShAndTheReadmeAgreeOnXvfb) {
    const QRegularExpressionMatch hint =
        QRegularExpression(QStringLiteral("xvfb-run -a -s '(-screen 0 \\d+x\\d+x24)' \\./run\\.sh"))
            .match(SourceFile("run.sh"));
    ASSERT_TRUE(hint.hasMatch());
    EXPECT_TRUE(SourceFile("README.md").contains(hint.captured(0)));
    EXPECT_TRUE(
        NoDisplayText(QStringLiteral("Morvel"))
            .contains(QStringLiteral("xvfb-run -a -s '%1' Morvel\n").arg(hint.captured(1))));
}

} // namespace
