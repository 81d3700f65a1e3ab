// SPDX-License-Identifier: MIT
#include "tests/e2e/program_run.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

// A hung program must fail its test, not stall the whole suite.
constexpr auto kRunLimit = std::chrono::minutes(5);

// The user and group nobody.
constexpr uid_t kNobody = 65534;

// Drops root's privileges, then starts the program from a descriptor opened
// while still root, so that the path to it need not be open to nobody.
[[noreturn]] void ExecAsNobody(std::vector<char*>& argv) {
  const int program = open(argv[0], O_RDONLY | O_CLOEXEC);
  if (program == -1 || setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
    _exit(126);
  }
  fexecve(program, argv.data(), environ);
  _exit(127);
}

void Redirect(const std::string& path, int flags, int target) {
  const int descriptor = open(path.c_str(), flags, 0644);
  if (descriptor == -1) {
    _exit(126);
  }
  dup2(descriptor, target);
  close(descriptor);
}

[[noreturn]] void StartChild(const std::string& directory, const ProgramSetup& setup, int out_pipe,
                             int err_pipe) {
  if (chdir(directory.c_str()) != 0) {
    _exit(126);
  }
  if (setup.stdin_path.empty()) {
    close(STDIN_FILENO);
  } else {
    Redirect(setup.stdin_path, O_RDONLY, STDIN_FILENO);
  }
  if (setup.close_stdout) {
    close(STDOUT_FILENO);
  } else if (!setup.stdout_path.empty()) {
    Redirect(setup.stdout_path, O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO);
  } else {
    dup2(out_pipe, STDOUT_FILENO);
  }
  dup2(err_pipe, STDERR_FILENO);
  std::string sim = setup.sim;
  if (setup.speed != 1 && sim.find("speed=") == std::string::npos) {
    sim += ";speed=" + std::to_string(setup.speed);
  }
  if (sim.empty()) {
    unsetenv("EBRILO_SIM");
  } else {
    setenv("EBRILO_SIM", sim.c_str(), 1);
  }
  for (const std::string& variable : setup.environment) {
    const auto equals = variable.find('=');
    setenv(variable.substr(0, equals).c_str(), variable.substr(equals + 1).c_str(), 1);
  }
  if (setup.file_size_limit > 0) {
    const rlimit limit{setup.file_size_limit, setup.file_size_limit};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  // Whatever the test runner ignores, the program starts with the usual
  // actions, as from a shell.
  for (const int number : {SIGPIPE, SIGXFSZ, SIGINT, SIGTERM, SIGHUP}) {
    signal(number, SIG_DFL);
  }
  std::vector<std::string> command = setup.command.empty() ? ProgramCommand() : setup.command;
  command.insert(command.end(), setup.arguments.begin(), setup.arguments.end());
  std::vector<char*> argv;
  for (std::string& word : command) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  if (setup.as_nobody && geteuid() == 0) {
    ExecAsNobody(argv);
  }
  execvp(argv[0], argv.data());
  _exit(127);
}

// Reads whatever one pipe has ready; false once it is closed.
bool Drain(pollfd& fd, std::string& sink) {
  char buffer[4096];
  const ssize_t got = read(fd.fd, buffer, sizeof buffer);
  if (got <= 0) {
    fd.fd = -1;
    return false;
  }
  sink.append(buffer, static_cast<std::size_t>(got));
  return true;
}

// Closes the reading end of a pipe (the descriptor then names /dev/null, so
// that it can still be closed as usual) and stops polling it.
void StopReading(pollfd& fd) {
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  dup2(null, fd.fd);
  close(null);
  fd.fd = -1;
}

// Sends the setup's signal; a stopped program is continued after its time.
void SendSignal(const ProgramSetup& setup, pid_t child) {
  kill(child, setup.signal_to_send);
  if (setup.signal_to_send == SIGSTOP) {
    std::this_thread::sleep_for(std::chrono::milliseconds(setup.stopped_ms));
    kill(child, SIGCONT);
  }
}

// Collects both pipes until the child has ended and nothing more is ready
// (a helper process of the child, such as Wine's server, may keep a copy of
// the pipes open long after), or until the time is up. Standard output is
// read only until it has brought the setup's stdout_reader_quits_after
// bytes, when that is not 0; the setup's signal goes to the child, and its
// file is made in directory, once standard output shows their text. Returns the child's wait
// status.
int Collect(int out_pipe, int err_pipe, const std::string& directory, const ProgramSetup& setup,
            ProgramRun& run, pid_t child) {
  const std::size_t quit_after = setup.stdout_reader_quits_after;
  bool signal_sent = setup.signal_to_send == 0;
  bool file_created = setup.create_name.empty();
  const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
  pollfd fds[2] = {{out_pipe, POLLIN, 0}, {err_pipe, POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int wait_status = 0;
  bool ended = false;
  while (fds[0].fd != -1 || fds[1].fd != -1) {
    const int ready = poll(fds, 2, ended ? 200 : 100);
    if (ready > 0) {
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd != -1 && fds[i].revents != 0) {
          Drain(fds[i], *sinks[i]);
        }
      }
      if (quit_after > 0 && fds[0].fd != -1 && run.out.size() >= quit_after) {
        StopReading(fds[0]);
      }
      if (!ended && !signal_sent && run.out.find(setup.signal_after) != std::string::npos) {
        SendSignal(setup, child);
        signal_sent = true;
      }
      if (!ended && !file_created && run.out.find(setup.create_after) != std::string::npos) {
        std::ofstream(directory + "/" + setup.create_name) << "made meanwhile\n";
        file_created = true;
      }
      continue;
    }
    if (ended) {
      break;
    }
    ended = waitpid(child, &wait_status, WNOHANG) == child;
    if (!ended && std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
    }
  }
  if (!ended) {
    waitpid(child, &wait_status, 0);
  }
  return wait_status;
}

}  // namespace

std::vector<std::string> ProgramCommand() {
  const char* configured = std::getenv("EBRILO_E2E_COMMAND");
  std::istringstream words(configured != nullptr && *configured != '\0' ? configured
                                                                        : EBRILO_SIM_PATH);
  std::vector<std::string> command;
  for (std::string word; words >> word;) {
    command.push_back(word);
  }
  return command;
}

std::string RealProgram() {
  const char* configured = std::getenv("EBRILO_E2E_REAL");
  return configured != nullptr && *configured != '\0' ? configured : EBRILO_PATH;
}

ProgramRun RunProgram(const std::string& directory, const ProgramSetup& setup) {
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    return {};
  }
  if (setup.stdout_reader_gone) {
    close(out_pipe[0]);
  }
  const pid_t child = fork();
  if (child == 0) {
    StartChild(directory, setup, out_pipe[1], err_pipe[1]);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  ProgramRun run;
  if (setup.stdout_reader_gone) {
    out_pipe[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  const int wait_status = Collect(out_pipe[0], err_pipe[0], directory, setup, run, child);
  close(out_pipe[0]);
  close(err_pipe[0]);
  if (WIFEXITED(wait_status)) {
    run.status = WEXITSTATUS(wait_status);
  } else if (WIFSIGNALED(wait_status)) {
    run.signal = WTERMSIG(wait_status);
  }
  return run;
}
