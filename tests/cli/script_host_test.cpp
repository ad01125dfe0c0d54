// filetransfer run without servers: what scripts see of the control and of
// WScript, how script errors are told and which exit status each ending gives.
// The runs against servers are tests/integration/script_examples_test.cpp's.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/cli_run.h"
#include "support/registered_control.h"
#include "support/test_files.h"

namespace {

struct Case {
    const char* name;
    const char* script;
    std::vector<std::string> arguments;
    int exitCode;
    const char* out;
    // ":LINE: ...": what standard error starts with after the script's path;
    // anything else: the whole of standard error.
    const char* err;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class ScriptRuns : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override { RegisterControlForChildren(); }
    ScratchFolder folder_{"script-host"};
};

TEST_P(ScriptRuns, GiveTheirOutputAndExitStatus) {
    const Case& c = GetParam();
    const std::string path = (folder_ / "script.js").string();
    std::ofstream(path) << c.script;
    std::vector<std::string> words{"run", path};
    words.insert(words.end(), c.arguments.begin(), c.arguments.end());
    const RunResult run = RunCli(words);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_EQ(run.out, c.out);
    if (c.err[0] == ':') {
        EXPECT_EQ(run.err.substr(0, path.size() + std::strlen(c.err)), path + c.err) << run.err;
    } else {
        EXPECT_EQ(run.err, c.err);
    }
}

const Case kCases[] = {
    {"SyntaxErrorNamesFileAndLine", "var a = 1;\nvar b = ;\n", {}, 1, "", ":2: SyntaxError: "},
    {"UncaughtErrorNamesItsLine", "var a;\n\nnothing.x = 1;\n", {}, 1, "", ":3: ReferenceError: "},
    {"FailedCallIsBlamedOnTheScriptsLine",
     "var f = new ActiveXObject('Tollane.FileTransfer');\nf.ThrowError = true;\n"
     "f.GetFile('x', 'y');\n",
     {},
     1,
     "",
     ":3: Error: Invalid server type or server type is undefined"},
    {"UnknownNameCannotBeCreated",
     "var f = new ActiveXObject('No.Such');\n",
     {},
     1,
     "",
     ":1: Error: cannot create an object named \"No.Such\": Invalid class string (not "
     "registered: filetransfer register --user)"},
    {"QuitEndsTheScriptEvenInsideTry",
     "try { WScript.Quit(7); } catch (e) { WScript.Echo('caught'); }\nWScript.Echo('after');\n",
     {},
     7,
     "",
     ""},
    {"QuitFromAnEventHandler",
     "var f = WScript.CreateObject('Tollane.FileTransfer', 'ev_');\n"
     "function ev_OnError() { WScript.Quit(4); "
     "}\nf.ChangeDirectory('x');\nWScript.Echo('after');\n",
     {},
     4,
     "",
     ""},
    {"EventHandlerGetsArgumentsAndItsErrorSurfacesAtTheCall",
     "var f = new ActiveXObject('Tollane.FileTransfer');\nWScript.ConnectObject(f, 'ev_');\n"
     "function ev_OnError(code, text) {\n  WScript.Echo(typeof code, text);\n"
     "  throw new Error('from handler');\n}\n"
     "try { f.ChangeDirectory('x'); } catch (e) { WScript.Echo('caught', e.message); }\n"
     "WScript.DisconnectObject(f);\nWScript.Echo('result', f.ChangeDirectory('x') > 0);\n",
     {},
     0,
     "number Invalid server type or server type is undefined\ncaught from handler\nresult true\n",
     ""},
    {"ArgumentsNamedAndUnnamed",
     "var a = WScript.Arguments;\n"
     "WScript.Echo(a.length, a.Count(), a(0), a.Item(2), a.Named.length, a.Named('MODE'),\n"
     "  a.Named.Exists('flag'), a.Named.Item('flag') === '', a.Named('none'),\n"
     "  a.Unnamed.Count(), a.Unnamed(1), WScript.ScriptName);\na(9);\n",
     {"one", "/mode:fast", "two", "/flag"},
     1,
     "4 4 one two 2 fast true true undefined 2 two script.js\n",
     ":5: RangeError: argument index out of range: 9"},
    {"PropertiesMethodsAndConversions",
     "var f = new ActiveXObject('Tollane.FileTransfer');\n"
     "f.Timeout = 7; f.ServerName = 'h\\u00e9\\ud83d\\ude00';\n"
     "WScript.Echo(f.Timeout, f.ServerName, typeof f.ThrowError, typeof f.ActivePort(1),\n"
     "  typeof f.Reset, f.timeout, f.nothing);\n"
     "try { f.Nothing = 1; } catch (e) { WScript.Echo(e.name, e.message); }\n"
     "f.Timeout = 2.6; f.MaxDecodedSize = 5000000000;\nWScript.Echo(f.Timeout, f.MaxDecodedSize);\n"
     "try { f.Timeout = 'abc'; } catch (e) { WScript.Echo(e.number, e.description); }\n"
     "try { f.Timeout = {}; } catch (e) { WScript.Echo(e.name); }\n"
     "WScript.StdOut.Write('a'); WScript.StdOut.WriteLine('b'); WScript.StdErr.WriteLine('e');\n"
     "WScript.Echo(1, 'two', true, null);\n",
     {},
     0,
     "7 h\xC3\xA9\xF0\x9F\x98\x80 boolean number function 7 undefined\n"
     "TypeError the object has no member named Nothing\n3 5000000000\n"
     "-2147352571 Type mismatch\nTypeError\nab\n1 two true null\n",
     "e\n"},
};

INSTANTIATE_TEST_SUITE_P(Scripts, ScriptRuns, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScriptHost, MissingScriptIsAUsageError) {
    const RunResult run = RunCli({"run", "/nonexistent/script.js"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err,
              "filetransfer: cannot read the script /nonexistent/script.js: No such file or "
              "directory\n");
    EXPECT_EQ(RunCli({"run"}).exitCode, 2);
}

}  // namespace
