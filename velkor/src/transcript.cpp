#include "transcript.hpp"

#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>
#include <utility>

#include "system.hpp"
#include "text.hpp"

namespace velkor {
namespace {

// Long enough for any sane line; the rest of an absurd one is of no use in a log.
constexpr std::size_t kMaxShown = 4096;
// How long the engine's end waits for the lines still queued.
constexpr std::chrono::seconds kPatienceAtEnd{2};

std::string localTime() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  const std::tm local = sys::localTime(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis.count()));
  return text;
}

// Appends to an open file; after a write cut short (a full disk) the next one starts on a line
// of its own.
class FileWriter {
 public:
  explicit FileWriter(sys::FileHandle file) : file_(file) {}
  FileWriter(FileWriter&& other) noexcept : file_(std::exchange(other.file_, sys::kNoFile)) {}
  ~FileWriter() { sys::closeFile(file_); }
  std::string operator()(std::string_view bytes) {
    std::string text = cut_ ? std::string("\n") : std::string();
    text.append(bytes);
    std::size_t written = 0;
    std::string error = sys::appendToFile(file_, text, written);
    if (written > 0) cut_ = !error.empty();
    return error;
  }

 private:
  sys::FileHandle file_;
  bool cut_ = false;
};

}  // namespace

struct Transcript::Shared {
  // A line, and how many were dropped just before it because the writer fell behind.
  struct Entry {
    std::string line;
    std::uint64_t droppedBefore = 0;
  };

  std::mutex mutex;
  std::condition_variable work;     // for the writer: lines, or the end
  std::condition_variable written;  // for record and the end: the writer moved on
  Writer write;
  std::function<void(const std::string&)> warn;
  std::deque<Entry> queue;
  std::size_t queuedBytes = 0;
  std::uint64_t queued = 0, done = 0;  // lines handed to the writer, and lines it finished
  std::uint64_t dropped = 0;           // since the last line queued
  bool stalled = false;  // nobody waits for the writer until it is fast with nothing queued
  bool stopping = false;
  bool finished = false;  // the writer thread has left its loop
  std::uint64_t lost = 0;
  std::string why;  // of the latest loss
  bool warned = false;

  void lose(std::uint64_t lines, std::string reason) {
    lost += lines;
    why = std::move(reason);
    if (warned || lines == 0) return;
    warned = true;
    const std::string text = "se pierden líneas del registro de la conversación (" + why +
                             "); el registro marca dónde y cuántas";
    if (warn) {
      warn(text);
    } else {
      std::cerr << "Velkor.exe: " << text << std::endl;
    }
  }

  void run() {
    std::unique_lock lock(mutex);
    std::uint64_t unmarked = 0;  // lost in writes that failed, marked with the next one
    for (;;) {
      work.wait(lock, [this] { return stopping || !queue.empty(); });
      Entry entry;
      if (!queue.empty()) {
        entry = std::move(queue.front());
        queue.pop_front();
        queuedBytes -= entry.line.size();
      } else if (dropped > 0 || unmarked > 0) {
        entry.droppedBefore = std::exchange(dropped, 0);  // the end: the last gap marked
      } else {
        break;
      }
      const std::uint64_t gap = unmarked + entry.droppedBefore;
      std::string text = entry.line;
      if (gap > 0) {
        text.insert(0, localTime() + "\t\tlost " + std::to_string(gap) + " lines: " + why + "\n");
      }
      lock.unlock();
      const auto start = std::chrono::steady_clock::now();
      const std::string error = write(text);
      const bool slow = std::chrono::steady_clock::now() - start > kSlowWrite;
      lock.lock();
      const std::uint64_t lines = entry.line.empty() ? 0 : 1;
      if (error.empty()) {
        unmarked = 0;
      } else {
        unmarked = gap + lines;
        lose(lines, error);
        if (lines == 0) break;  // the end, and not even the mark goes
      }
      done += lines;
      if (slow) {
        stalled = true;
      } else if (queue.empty()) {
        stalled = false;
      }
      written.notify_all();
    }
    finished = true;
    written.notify_all();
  }
};

Transcript::Transcript(std::function<void(const std::string&)> warn)
    : shared_(std::make_shared<Shared>()) {
  shared_->warn = std::move(warn);
}

Transcript::~Transcript() {
  std::unique_lock lock(shared_->mutex);
  if (!shared_->write) return;
  shared_->stopping = true;
  shared_->work.notify_all();
  // A writer stuck in the system keeps the shared state alive on its own.
  shared_->written.wait_for(lock, kPatienceAtEnd, [this] { return shared_->finished; });
}

std::string Transcript::open(const std::filesystem::path& file) {
  std::string error;
  const sys::FileHandle handle = sys::openPlainForAppend(file, error);
  if (handle == sys::kNoFile) return error;
  open(Writer([writer = std::make_shared<FileWriter>(handle)](std::string_view bytes) {
    return (*writer)(bytes);
  }));
  return {};
}

void Transcript::open(Writer write) {
  {
    const std::lock_guard lock(shared_->mutex);
    if (shared_->write) return;  // one transcript a run
    shared_->write = std::move(write);
  }
  std::thread([shared = shared_] { shared->run(); }).detach();
}

bool Transcript::enabled() const {
  const std::lock_guard lock(shared_->mutex);
  return static_cast<bool>(shared_->write);
}

std::uint64_t Transcript::lost() const {
  const std::lock_guard lock(shared_->mutex);
  return shared_->lost;
}

void Transcript::record(std::string_view received, std::string_view action) {
  Shared& s = *shared_;
  std::unique_lock lock(s.mutex);
  if (!s.write || s.stopping) return;
  std::string line = localTime() + '\t' + printable(received, kMaxShown) + '\t' +
                     printable(action, kMaxShown) + '\n';
  if (s.queuedBytes + line.size() > kMaxQueuedBytes) {
    ++s.dropped;
    s.lose(1, "el disco no da abasto");
    return;
  }
  s.queuedBytes += line.size();
  s.queue.push_back({std::move(line), std::exchange(s.dropped, 0)});
  const std::uint64_t mine = ++s.queued;
  s.work.notify_one();
  // The line is normally in the file before the engine answers; a writer that takes longer is
  // left to catch up on its own.
  if (s.stalled) return;
  if (!s.written.wait_for(lock, kPatience, [&] { return s.done >= mine; })) s.stalled = true;
}

}  // namespace velkor
