// End-to-end tests: the built program, run against registry files in Wine
// prefixes made for each test, judged by its exact output and exit code.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] = R"(Run app like this:

    tarvex.exe COMMAND PARAMS

where "COMMAND" choices, and corresponding "PARAMS", are:

    zolpversionlessthan VERSION
    help

and detailed descriptions of the commands and corresponding params are:

    zolpversionlessthan VERSION

        Command description:  Is ZOLP installed and, if so, is the version
                              of ZOLP less than the specified VERSION?

        VERSION param:        Version to compare installed version against.
                              The VERSION param needs to be of the form:
                                  <major>.<minor>*10+<maintenance>
                              Example of VERSION for ZOLP 5.6.0:
                                  5.60

        Return values for the command:

            0 = true:  ZOLP is installed and version is less than VERSION
            1 = false: ZOLP is not installed
            2 = false: ZOLP is installed but the version is equal to or
                       greater than VERSION
            3 = false: The VERSION parameter is missing
            4 = false: The format of the VERSION parameter is invalid

    help

        Command description:  Display this help text.

        Return value for the command:

            0 = success

Return value for tarvex.exe if an invalid command is specified:

    1 = error

Return value for tarvex.exe if no command is specified:

    0 = success (plus the help text is displayed)
)";

constexpr char kNotInstalled[] = "No version of ZOLP is installed.\n";
constexpr char kUnreadable[] =
    "Unable to read the ZOLP \"Version\" registry value.\n"
    "Appears that no version of ZOLP is installed.\n";
constexpr char kUnparsable[] =
    "Unable to parse version information out of the ZOLP \"Version\" "
    "registry value.\nAppears that no version of ZOLP is installed.\n";
constexpr char kLess[] =
    "Installed version of ZOLP is less than specified version.\n";
constexpr char kNotLess[] =
    "Installed version of ZOLP is equal to or greater than the specified "
    "version.\n";

std::string Installed(const std::string& v) {
  return "The version of ZOLP installed is: " + v + "\n";
}
std::string Specified(const std::string& v) {
  return "The version of ZOLP specified is: " + v + "\n";
}
std::string Malformed(const std::string& v) {
  return "Error: The format of the VERSION parameter is invalid.\n"
         "       The specified VERSION parameter string is: " + v + "\n";
}
std::string Invalid(const std::string& word) {
  return "Error: Invalid command specified: " + word + "\n\n" + kUsage;
}

// A registry file of a win64 prefix with `value_line` as ZOLP's value.
std::string Win64Registry(const std::string& value_line) {
  return "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
         "#arch=win64\n\n"
         "[Software\\\\Brek Computer Corporation\\\\BrekZOLP\\\\CurrentVersion] 1\n"
         "\"Version\"=\"64.0\"\n\n"
         "[Software\\\\Wow6432Node\\\\Brek Computer Corporation\\\\BrekZOLP\\\\CurrentVersion] 1\n"
         "#time=1d9d1c8e5a3b2f0\n" + value_line + "\n";
}

enum class Output { kFile, kClosed, kFull, kBrokenPipe };

struct RunResult {
  std::string out;
  std::string err;
  int code = -1;
  int signal = 0;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class EndToEndTest : public testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/tarvex-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    prefix_ = dir_ + "/prefix";
    ASSERT_EQ(mkdir(prefix_.c_str(), 0755), 0);
  }
  void TearDown() override {
    const std::string command = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }

  void WriteRegistry(const std::string& bytes) {
    std::ofstream(prefix_ + "/system.reg", std::ios::binary) << bytes;
  }

  // Runs tarvex with `args` in an environment of only `env`.
  RunResult Tarvex(const std::vector<std::string>& args,
             std::vector<std::string> env = {},
             Output output = Output::kFile) {
    if (env.empty()) env = {"WINEPREFIX=" + prefix_, "HOME=" + dir_};
    const std::string out_path = dir_ + "/stdout", err_path = dir_ + "/stderr";
    int pipe_fds[2] = {-1, -1};
    if (output == Output::kBrokenPipe) {
      EXPECT_EQ(pipe(pipe_fds), 0);
      close(pipe_fds[0]);  // The reader is gone before the program writes.
    }
    const pid_t pid = fork();
    if (pid == 0) {
      const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, 2);
      close(err);
      int out = -1;
      if (output == Output::kFile) {
        out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      } else if (output == Output::kFull) {
        out = open("/dev/full", O_WRONLY);
      } else if (output == Output::kBrokenPipe) {
        out = pipe_fds[1];
      }
      if (out >= 0) {
        dup2(out, 1);
      } else {
        close(1);
      }
      std::vector<char*> argv, envp;
      // TARVEX_UNDER names a program to run tarvex under, such as valgrind.
      std::string under = std::getenv("TARVEX_UNDER") ? std::getenv("TARVEX_UNDER") : "";
      if (!under.empty()) argv.push_back(under.data());
      std::string program = TARVEX_BINARY;
      argv.push_back(program.data());
      std::vector<std::string> owned_args = args;
      for (std::string& a : owned_args) argv.push_back(a.data());
      argv.push_back(nullptr);
      for (std::string& e : env) envp.push_back(e.data());
      envp.push_back(nullptr);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    if (pipe_fds[1] >= 0) close(pipe_fds[1]);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    RunResult run;
    if (WIFEXITED(status)) run.code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    if (output == Output::kFile) run.out = ReadFile(out_path);
    run.err = ReadFile(err_path);
    return run;
  }

  std::string dir_;
  std::string prefix_;
};

void ExpectRun(const RunResult& run, const std::string& out, int code) {
  EXPECT_EQ(run.out, out);
  EXPECT_EQ(run.code, code);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.err, "");
}

TEST_F(EndToEndTest, DispatchesOnTheFirstWordInAnyLetterCase) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
    int code;
  };
  const Case kCases[] = {
      {{}, kUsage, 0},
      {{"help"}, kUsage, 0},
      {{"HELP"}, kUsage, 0},
      {{"HeLp", "more", "words"}, kUsage, 0},
      {{"helpx"}, Invalid("helpx"), 1},
      {{"hel"}, Invalid("hel"), 1},
      {{"bogus", "help"}, Invalid("bogus"), 1},
      {{""}, Invalid(""), 1},
      {{" help"}, Invalid(" help"), 1},
      {{"h\xc3\xa9lp\x01\x7f"}, Invalid("h\xc3\xa9lp\x01\x7f"), 1},
      {{"zolpversionlessthanx", "5.60"}, Invalid("zolpversionlessthanx"), 1},
      {{"zolpversionlessthan"}, "Error: Required VERSION parameter is missing.\n", 3},
      {{"ZOLPVERSIONLESSTHAN"}, "Error: Required VERSION parameter is missing.\n", 3},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args.empty() ? "(no arguments)" : "\"" + c.args[0] + "\"");
    ExpectRun(Tarvex(c.args), c.out, c.code);
  }
}

TEST_F(EndToEndTest, EchoesLongArgumentsByteForByte) {
  // The longest single argument Linux passes to a program (MAX_ARG_STRLEN).
  std::string word(128 * 1024 - 1, 'w');
  for (std::size_t i = 0; i < word.size(); i += 3) word[i] = static_cast<char>(0x80 + i % 128);
  ExpectRun(Tarvex({word}), Invalid(word), 1);
  ExpectRun(Tarvex({"zolpversionlessthan", word}), Malformed(word), 4);
}

TEST_F(EndToEndTest, ChecksTheInstalledVersion) {
  struct Case {
    std::string value_line;
    std::string version;
    std::string out;
    int code;
  };
  const std::string v560 = "\"Version\"=\"5.60\"";
  const Case kCases[] = {
      {v560, "5.60", Installed("5.60") + Specified("5.60") + kNotLess, 2},
      {v560, "5.61", Installed("5.60") + Specified("5.61") + kLess, 0},
      {v560, "6.0", Installed("5.60") + Specified("6.0") + kLess, 0},
      {v560, "5.59", Installed("5.60") + Specified("5.59") + kNotLess, 2},
      {v560, "5.6", Installed("5.60") + Specified("5.6") + kNotLess, 2},
      {v560, "4.99", Installed("5.60") + Specified("4.99") + kNotLess, 2},
      {v560, " \t+05.060 and more", Installed("5.60") + Specified("5.60") + kNotLess, 2},
      {v560, "5.60.", Installed("5.60") + Specified("5.60") + kNotLess, 2},
      {v560, "5.60.x", Installed("5.60") + Specified("5.60") + kNotLess, 2},
      {v560, "-1.0", Installed("5.60") + Specified("-1.0") + kNotLess, 2},
      {v560, "5.-60", Installed("5.60") + Specified("5.-60") + kNotLess, 2},
      {v560, "4294967301.0", Installed("5.60") + Specified("5.0") + kNotLess, 2},
      {"\"Version\"=\"5.6.0\"", "5.60", Installed("5.6") + Specified("5.60") + kLess, 0},
      {"\"version\"=\" 5.60 final\"", "5.61", Installed("5.60") + Specified("5.61") + kLess, 0},
      {"\"Version\"=str(2):\"7.1\"", "7.2", Installed("7.1") + Specified("7.2") + kLess, 0},
      {"\"Version\"=hex:35,2e,36,30", "6.0", Installed("5.60") + Specified("6.0") + kLess, 0},
      {"\"Version\"=\"" + std::string(255, ' ') + "1.2\"", "1.3",
       Installed("1.2") + Specified("1.3") + kLess, 0},
      {"\"Version\"=\"" + std::string(260, '5') + "\"", "5.60", kUnreadable, 1},
      {"\"Other\"=\"5.60\"", "5.60", kUnreadable, 1},
      {"\"Version\"=\"abc\"", "5.60", kUnparsable, 1},
      {"\"Version\"=\"\"", "5.60", kUnparsable, 1},
      {"\"Version\"=dword:00000005", "5.60", kUnparsable, 1},
      {"\"Version\"=nonsense", "5.60", kUnparsable, 1},
      {v560, "5.6.0", Malformed("5.6.0"), 4},
      {v560, "5.60.7.8", Malformed("5.60.7.8"), 4},
      {v560, "5.60. 7", Malformed("5.60. 7"), 4},
      {v560, "5 .60", Malformed("5 .60"), 4},
      {v560, "", Malformed(""), 4},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.value_line + " / VERSION \"" + c.version + "\"");
    WriteRegistry(Win64Registry(c.value_line));
    ExpectRun(Tarvex({"zolpversionlessthan", c.version, "extra"}), c.out, c.code);
  }
}

TEST_F(EndToEndTest, FindsThePrefixTheWayWineDoes) {
  WriteRegistry(Win64Registry("\"Version\"=\"5.60\""));
  const std::string found = Installed("5.60") + Specified("6.0") + kLess;
  const std::vector<std::string> args = {"zolpversionlessthan", "6.0"};
  // $HOME/.wine when WINEPREFIX is unset or empty.
  ASSERT_EQ(rename(prefix_.c_str(), (dir_ + "/.wine").c_str()), 0);
  ExpectRun(Tarvex(args, {"HOME=" + dir_}), found, 0);
  ExpectRun(Tarvex(args, {"WINEPREFIX=", "HOME=" + dir_}), found, 0);
  ExpectRun(Tarvex(args, {"WINEPREFIX=" + dir_ + "/elsewhere", "HOME=" + dir_}),
            kNotInstalled, 1);
  ExpectRun(Tarvex(args, {"WINEPREFIX=" + dir_ + "/.wine/"}), found, 0);
  ExpectRun(Tarvex(args, {"PATH=/bin"}), kNotInstalled, 1);  // No HOME at all.
}

TEST_F(EndToEndTest, AnythingButARegistryFileIsNoRegistry) {
  const std::vector<std::string> args = {"zolpversionlessthan", "6.0"};
  ExpectRun(Tarvex(args), kNotInstalled, 1);  // No system.reg.
  WriteRegistry("");
  ExpectRun(Tarvex(args), kNotInstalled, 1);
  WriteRegistry("REGEDIT4\n" + Win64Registry("\"Version\"=\"5.60\""));
  ExpectRun(Tarvex(args), kNotInstalled, 1);
  ASSERT_EQ(unlink((prefix_ + "/system.reg").c_str()), 0);
  ASSERT_EQ(mkfifo((prefix_ + "/system.reg").c_str(), 0644), 0);
  ExpectRun(Tarvex(args), kNotInstalled, 1);  // Must not wait for a writer.
  ASSERT_EQ(unlink((prefix_ + "/system.reg").c_str()), 0);
  ASSERT_EQ(mkdir((prefix_ + "/system.reg").c_str(), 0755), 0);
  ExpectRun(Tarvex(args), kNotInstalled, 1);
}

TEST_F(EndToEndTest, TheExitCodeSurvivesOutputThatCannotBeWritten) {
  WriteRegistry(Win64Registry("\"Version\"=\"5.60\""));
  struct Case {
    std::vector<std::string> args;
    int code;
  };
  const Case kCases[] = {{{"zolpversionlessthan", "6.0"}, 0},
                         {{"zolpversionlessthan", "5.0"}, 2},
                         {{"bogus"}, 1},
                         {{"help"}, 0}};
  for (const Output output : {Output::kClosed, Output::kFull, Output::kBrokenPipe}) {
    for (const Case& c : kCases) {
      SCOPED_TRACE(c.args[0] + " with output " + std::to_string(static_cast<int>(output)));
      ExpectRun(Tarvex(c.args, {}, output), "", c.code);
    }
  }
}

TEST_F(EndToEndTest, TheExamplePrefixAnswers) {
  const std::vector<std::string> env = {
      std::string("WINEPREFIX=") + TARVEX_SOURCE_DIR + "/examples/prefix"};
  ExpectRun(Tarvex({"zolpversionlessthan", "5.61"}, env),
            Installed("5.60") + Specified("5.61") + kLess, 0);
}

}  // namespace
