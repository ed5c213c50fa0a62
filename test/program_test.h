// What the tests of the built program share: running it in an environment
// of its own, and the exact output it must give.
#ifndef TARVEX_TEST_PROGRAM_TEST_H_
#define TARVEX_TEST_PROGRAM_TEST_H_

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The usage text, followed by its line end, kept apart from the program's
// own copy so that a change to either shows.
inline const std::string& Usage() {
  static const std::string usage = ReadFile(TARVEX_SOURCE_DIR "/test/usage.txt");
  return usage;
}

constexpr char kNotInstalled[] = "No version of ZOLP is installed.\n";
constexpr char kUnreadable[] =
    "Unable to read the ZOLP \"Version\" registry value.\n"
    "Appears that no version of ZOLP is installed.\n";
constexpr char kUnparsable[] =
    "Unable to parse version information out of the ZOLP \"Version\" "
    "registry value.\nAppears that no version of ZOLP is installed.\n";
constexpr char kMissing[] = "Error: Required VERSION parameter is missing.\n";
constexpr char kLess[] =
    "Installed version of ZOLP is less than specified version.\n";
constexpr char kNotLess[] =
    "Installed version of ZOLP is equal to or greater than the specified "
    "version.\n";

inline std::string Installed(const std::string& v) {
  return "The version of ZOLP installed is: " + v + "\n";
}
inline std::string Specified(const std::string& v) {
  return "The version of ZOLP specified is: " + v + "\n";
}
inline std::string Malformed(const std::string& v) {
  return "Error: The format of the VERSION parameter is invalid.\n"
         "       The specified VERSION parameter string is: " + v + "\n";
}
// The output for an invalid command word, up to the usage text.
inline std::string InvalidPrefix(const std::string& word) {
  return "Error: Invalid command specified: " + word + "\n\n";
}
inline std::string Invalid(const std::string& word) {
  return InvalidPrefix(word) + Usage();
}

enum class Output { kFile, kClosed, kFull, kBrokenPipe, kReadOnly };

struct RunResult {
  std::string out;
  std::string err;
  int code = -1;
  int signal = 0;
  bool timed_out = false;
  long max_rss_kib = 0;
  double cpu_seconds = 0;
};

class ProgramTest : public testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/tarvex-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    prefix_ = dir_ + "/prefix";
    ASSERT_EQ(mkdir(prefix_.c_str(), 0755), 0);
    reg_ = prefix_ + "/system.reg";
  }
  void TearDown() override {
    const std::string command = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }

  void WriteRegistry(const std::string& bytes) {
    std::ofstream(reg_, std::ios::binary | std::ios::trunc) << bytes;
  }
  // Whatever system.reg was made as: a file, a link, a FIFO, a directory.
  void RemoveRegistry() {
    if (unlink(reg_.c_str()) != 0) rmdir(reg_.c_str());
  }

  // Runs tarvex with `args` in an environment of only `env` (by default the
  // test's prefix), killing it after 30 seconds, and measures it.
  RunResult Tarvex(const std::vector<std::string>& args,
                   std::vector<std::string> env = {},
                   Output output = Output::kFile) {
    if (env.empty()) env = {"WINEPREFIX=" + prefix_, "HOME=" + dir_};
    const std::string out_path = dir_ + "/stdout", err_path = dir_ + "/stderr";
    int pipe_fds[2] = {-1, -1};
    if (output == Output::kBrokenPipe) {
      EXPECT_EQ(pipe(pipe_fds), 0);
      close(pipe_fds[0]);
    }
    const pid_t pid = fork();
    if (pid == 0) {
      const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, 2);
      close(err);
      int out = -1;
      switch (output) {
        case Output::kFile:
          out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
          break;
        case Output::kFull: out = open("/dev/full", O_WRONLY); break;
        case Output::kBrokenPipe: out = pipe_fds[1]; break;
        case Output::kReadOnly: out = open("/dev/null", O_RDONLY); break;
        case Output::kClosed: break;
      }
      if (!cwd_.empty() && chdir(cwd_.c_str()) != 0) _exit(126);
      if (out >= 0) {
        dup2(out, 1);
        if (out != 1) close(out);
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
    RunResult run;
    int status = 0;
    rusage usage{};
    for (int waited_ms = 0;; ++waited_ms) {
      const pid_t done = wait4(pid, &status, WNOHANG, &usage);
      EXPECT_GE(done, 0);
      if (done != 0) break;
      if (waited_ms >= 30000) {
        run.timed_out = true;
        kill(pid, SIGKILL);
      }
      const timespec pause = {0, 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
    if (WIFEXITED(status)) run.code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    run.max_rss_kib = usage.ru_maxrss;
    run.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (output == Output::kFile) run.out = ReadFile(out_path);
    run.err = ReadFile(err_path);
    return run;
  }

  std::string dir_;
  std::string prefix_;
  std::string reg_;
  std::string cwd_;  // Where the program runs, when not here.
};

inline void ExpectClean(const RunResult& run, int code) {
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.code, code);
  EXPECT_EQ(run.err, "");
}

inline void ExpectRun(const RunResult& run, const std::string& out, int code) {
  ExpectClean(run, code);
  EXPECT_EQ(run.out, out);
}

}  // namespace

#endif  // TARVEX_TEST_PROGRAM_TEST_H_
