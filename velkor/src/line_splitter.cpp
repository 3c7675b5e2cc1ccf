#include "line_splitter.hpp"

namespace velkor {

std::vector<LineSplitter::Piece> LineSplitter::feed(std::string_view data) {
  std::vector<Piece> pieces;
  while (!data.empty()) {
    const std::size_t lf = data.find('\n');
    const std::string_view chunk = data.substr(0, lf);
    data = lf == std::string_view::npos ? std::string_view{} : data.substr(lf + 1);
    const bool ended = lf != std::string_view::npos;

    if (!discarding_) {
      // One byte of slack for the CR of a CR LF that arrives in the next read.
      const std::size_t room = cap_ + 1 - buffer_.size();
      buffer_.append(chunk.substr(0, room));
      if (chunk.size() > room) discarding_ = true;
    }
    if (!discarding_ && ended) {
      if (!buffer_.empty() && buffer_.back() == '\r') buffer_.pop_back();
      if (buffer_.size() > cap_) discarding_ = true;
    }
    if (discarding_ && !buffer_.empty()) {
      pieces.push_back({Piece::Kind::kTooLong, buffer_.substr(0, kTooLongPrefix)});
      buffer_.clear();
    }
    if (ended) {
      if (!discarding_) pieces.push_back({Piece::Kind::kLine, std::move(buffer_)});
      buffer_.clear();
      discarding_ = false;
    }
  }
  return pieces;
}

std::string LineSplitter::takePartial() {
  std::string partial = discarding_ ? std::string{} : std::move(buffer_);
  buffer_.clear();
  discarding_ = false;
  return partial;
}

}  // namespace velkor
