#pragma once
// What the sound tests share: whether the private sound server of
// scripts/run-tests.sh is there, child processes (paplay, pactl, the tools
// under test) with their output in files, and a private server of a test's
// own, for the tests that kill it and start it again.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "testing/Files.h"

namespace harmolune::testing {

// scripts/run-tests.sh exports this with PULSE_SERVER once its server answers.
inline bool HaveTestSoundServer() {
    const char* value = std::getenv("HARMOLUNE_SOUND_SERVER");
    return value != nullptr && std::string(value) == "private";
}

#define SKIP_WITHOUT_TEST_SOUND_SERVER()                                              \
    do {                                                                              \
        if (!::harmolune::testing::HaveTestSoundServer()) {                           \
            GTEST_SKIP() << "needs the private sound server of scripts/run-tests.sh"; \
        }                                                                             \
    } while (false)

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// A program run with its stdout and stderr in files. Killed if still running
// when the object goes.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::filesystem::path& outFile,
          const std::filesystem::path& errFile,
          const std::vector<std::string>& extraEnvironment = {}) {
        // Everything the child needs is built before fork: a test that has
        // started threads may not allocate between fork and exec.
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        std::vector<char*> environment = ChildEnvironment(extraEnvironment);
        pid_ = fork();
        if (pid_ == 0) {
            const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            execvpe(args[0], args.data(), environment.data());
            _exit(127);
        }
    }
    ~Child() {
        if (pid_ > 0 && !waited_) {
            kill(pid_, SIGKILL);
            Wait();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The exit status, or 128 + the signal that ended it.
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void Kill(int signal) { kill(pid_, signal); }
    pid_t Pid() const { return pid_; }

  private:
    // This process's environment with each NAME=value of `extra` in place of
    // an entry of the same name. The pointers stay valid while `extra` lives.
    static std::vector<char*> ChildEnvironment(const std::vector<std::string>& extra) {
        std::vector<char*> entries;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string_view current(*entry);
            const std::size_t equals = current.find('=');
            const std::string_view name =
                current.substr(0, equals == std::string_view::npos ? current.size() : equals + 1);
            bool replaced = false;
            for (const std::string& assignment : extra) {
                replaced = replaced || std::string_view(assignment).starts_with(name);
            }
            if (!replaced) {
                entries.push_back(*entry);
            }
        }
        for (const std::string& assignment : extra) {
            entries.push_back(const_cast<char*>(assignment.c_str()));
        }
        entries.push_back(nullptr);
        return entries;
    }

    pid_t pid_ = -1;
    bool waited_ = false;
};

// Runs a program to its end; returns its exit status.
inline int Run(const std::vector<std::string>& argv) {
    Child child(argv, "/dev/null", "/dev/null");
    return child.Wait();
}

// The capture level, as a user turns up a microphone: PulseAudio volumes are
// cubic, 126 % is about twice the amplitude.
inline int SetCaptureVolume(const std::string& percent) {
    return Run({"pactl", "set-source-volume", "@DEFAULT_SOURCE@", percent});
}

// A PulseAudio server of the test's own, with one silent sink whose monitor is
// the default source, for tests that kill it and start it again. Clients
// reach it through the PULSE_SERVER that Address() names, the same after a
// restart.
class PrivateSoundServer {
  public:
    // Without the loopback, nothing but the test's own streams sets how far
    // ahead the sink runs.
    explicit PrivateSoundServer(const std::filesystem::path& dir, bool loopback = true)
        : dir_(dir) {
        std::filesystem::create_directories(dir / "runtime");
        std::filesystem::create_directories(dir / "home");
        std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all);
        socket_ = (dir / "runtime" / "native").string();
        // The shared server's configuration (testing/sound-server.pa), with
        // test_out for its sink.
        std::ifstream in(std::filesystem::path(HARMOLUNE_TESTING_DIR) / "sound-server.pa");
        std::ofstream pa(dir / "server.pa");
        for (std::string line; std::getline(in, line);) {
            if (!loopback && line.find("@SINK@_loop") != std::string::npos) {
                continue;
            }
            for (const auto& [from, to] : {std::pair<std::string, std::string>{"@SOCKET@", socket_},
                                           {"@SINK@", "test_out"}}) {
                for (std::size_t at = line.find(from); at != std::string::npos;
                     at = line.find(from, at + to.size())) {
                    line.replace(at, from.size(), to);
                }
            }
            pa << line << '\n';
        }
        pa.close();
        Start();
    }

    // Starts the server again after Kill, on the same socket.
    void Start() {
        server_ = std::make_unique<Child>(
            std::vector<std::string>{"pulseaudio", "-n", "-F", (dir_ / "server.pa").string(),
                                     "--exit-idle-time=-1", "--daemonize=no"},
            dir_ / "server.out", dir_ / "server.err",
            std::vector<std::string>{"XDG_RUNTIME_DIR=" + (dir_ / "runtime").string(),
                                     "HOME=" + (dir_ / "home").string()});
    }

    // PULSE_SERVER for the clients.
    std::string Address() const { return "unix:" + socket_; }

    // Waits up to 10 s for the server to answer; false if it never does.
    // A fresh null sink has rendered 2 s ahead: a suspend and resume brings
    // it back to now.
    bool WaitUntilReady() const {
        const std::string env = "PULSE_SERVER=" + Address();
        for (int i = 0; i < 100; ++i) {
            Child info({"pactl", "info"}, "/dev/null", "/dev/null", {env});
            if (info.Wait() == 0) {
                for (const char* state : {"1", "0"}) {
                    Child({"pactl", "suspend-sink", "test_out", state}, "/dev/null", "/dev/null",
                          {env})
                        .Wait();
                }
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    void Kill() {
        if (server_) {
            server_->Kill(SIGKILL);
            server_->Wait();
            server_.reset();
        }
    }

  private:
    std::filesystem::path dir_;
    std::string socket_;
    std::unique_ptr<Child> server_;
};

inline int CountOf(const std::string& text, const std::string& piece) {
    int count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos;
         at = text.find(piece, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace harmolune::testing
