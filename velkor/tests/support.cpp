#include "support.hpp"

#include <algorithm>
#include <cwchar>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include "child.hpp"
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace velkor::test {

TempDir::TempDir() {
  namespace fs = std::filesystem;
  std::random_device seed;
  std::mt19937_64 random((static_cast<std::uint64_t>(seed()) << 32) ^ seed());
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const fs::path candidate =
        fs::temp_directory_path() / ("velkor-test-" + std::to_string(random() % 1'000'000'000));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) path_ = candidate;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

Client::Client(std::uint16_t port, std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  std::string error;
  do {
    socket_ = net::connect("127.0.0.1", port, 1s, error);
    if (socket_ != net::kNoSocket) return;
    std::this_thread::sleep_for(20ms);
  } while (std::chrono::steady_clock::now() < deadline);
}

Client::~Client() {
  close();
}

void Client::close() {
  net::close(socket_);
  socket_ = net::kNoSocket;
}

bool Client::send(std::string_view bytes) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (connected() && !bytes.empty()) {
    const long sent = net::send(socket_, bytes.data(), bytes.size());
    if (sent == net::kFailed) return false;
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    std::vector<net::Watch> watch{{socket_, false, true}};
    if (!net::wait(watch, 1s) || std::chrono::steady_clock::now() > deadline) return false;
  }
  return connected();
}

bool Client::fill(std::chrono::steady_clock::time_point deadline, bool& closed) {
  for (;;) {
    char chunk[4096];
    const long got = net::receive(socket_, chunk, sizeof chunk);
    if (got > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(got));
      return true;
    }
    if (got == 0 || got == net::kFailed) {
      closed = true;
      return false;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    std::vector<net::Watch> watch{{socket_, true}};
    if (left.count() <= 0 || !net::wait(watch, left)) return false;
  }
}

std::optional<std::string> Client::readLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (connected()) {
    if (const auto lf = buffer_.find('\n'); lf != std::string::npos) {
      std::string line = buffer_.substr(0, lf);
      buffer_.erase(0, lf + 1);
      if (line.empty() || line.back() != '\r') return line + "<no CRLF>";
      line.pop_back();
      return line;
    }
    bool closed = false;
    if (!fill(deadline, closed)) return std::nullopt;
  }
  return std::nullopt;
}

bool Client::waitForClose(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (connected()) {
    bool closed = false;
    if (!fill(deadline, closed)) return closed;
  }
  return true;
}

std::uint16_t freePort() {
  std::uint16_t port = 0;
  std::string error;
  net::close(net::listenLoopback(0, port, error));
  return port;
}

#ifdef _WIN32

namespace {

std::wstring widen(std::string_view text) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

}  // namespace

Process::Process(const std::filesystem::path& program, const std::vector<std::string>& args,
                 const std::vector<std::pair<std::string, std::string>>& environment) {
  std::wstring commandLine = sys::commandLine(program, args);
  // This environment with the given variables replaced, sorted as Windows wants it.
  std::vector<std::wstring> entries;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* e = block; *e; e += wcslen(e) + 1) {
      const std::wstring entry(e);
      bool replaced = false;
      for (const auto& [name, value] : environment) {
        const std::wstring prefix = widen(name) + L"=";
        replaced = replaced || _wcsnicmp(entry.c_str(), prefix.c_str(), prefix.size()) == 0;
      }
      if (!replaced) entries.push_back(entry);
    }
    FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : environment)
    entries.push_back(widen(name) + L"=" + widen(value));
  std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) < 0;
  });
  std::wstring block;
  for (const auto& e : entries) block += e + L'\0';
  block += L'\0';

  // A console of its own (hidden), so stop() can send Ctrl-C to it alone; its messages still go
  // where ours do.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                     CREATE_NEW_CONSOLE | CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr,
                     &startup, &info)) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
  }
}

Process::~Process() {
  kill();
}

bool Process::started() const {
  return process_ != nullptr;
}

std::optional<int> Process::waitExit(std::chrono::milliseconds patience) {
  if (!process_) return std::nullopt;
  if (WaitForSingleObject(process_, static_cast<DWORD>(patience.count())) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  CloseHandle(process_);
  process_ = nullptr;
  return static_cast<int>(code);
}

int Process::stop(std::chrono::milliseconds patience) {
  if (!process_) return -1;
  // Ctrl-C reaches every process of a console: join the child's, ignoring it ourselves.
  FreeConsole();
  if (AttachConsole(id_)) {
    SetConsoleCtrlHandler(nullptr, TRUE);
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  }
  const auto status = waitExit(patience);
  FreeConsole();
  SetConsoleCtrlHandler(nullptr, FALSE);
  return status.value_or(-1);
}

void Process::kill() {
  if (!process_) return;
  TerminateProcess(process_, 137);
  waitExit(10s);
}

#else

Process::Process(const std::filesystem::path& program, const std::vector<std::string>& args,
                 const std::vector<std::pair<std::string, std::string>>& environment) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string_view entry(*e);
    bool replaced = false;
    for (const auto& [name, value] : environment) {
      replaced = replaced || entry.rfind(name + "=", 0) == 0;
    }
    if (!replaced) env.emplace_back(entry);
  }
  for (const auto& [name, value] : environment) env.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStrings{program.string()};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
    pid_ = -1;
  }
}

Process::~Process() {
  kill();
}

bool Process::started() const {
  return pid_ > 0;
}

std::optional<int> Process::waitExit(std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (pid_ > 0) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(20ms);
  }
  return std::nullopt;
}

int Process::stop(std::chrono::milliseconds patience) {
  if (pid_ <= 0) return -1;
  ::kill(pid_, SIGTERM);
  return waitExit(patience).value_or(-1);
}

void Process::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

#endif

}  // namespace velkor::test
