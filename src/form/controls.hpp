// Plain models of the window's controls: exactly the state the logic reads
// and writes. A view observes them through `changed`; the composition root
// wires each event to one handler.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pasotune {

// What stands for the cut-off rest of a line that was too long.
inline constexpr std::string_view kEllipsis = "…";

// The longest start of text of at most maxBytes that does not end inside a
// UTF-8 sequence.
inline std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t n = maxBytes;
  // Back off over continuation bytes to the start of the cut character; a
  // sequence is at most four bytes, so past three it was not well formed.
  for (int k = 0; k < 3 && n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80; ++k) --n;
  if ((static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) n = maxBytes;
  return text.substr(0, n);
}

// At most maxBytes of text, then the ellipsis when something was cut.
inline std::string BoundedLine(std::string_view text, std::size_t maxBytes) {
  std::string out(Utf8Prefix(text, maxBytes));
  if (out.size() < text.size()) out += kEllipsis;
  return out;
}

// Called after any change of a control's state, for the view.
using Observer = std::function<void()>;

inline void Notify(const Observer& o) {
  if (o) o();
}

class Label {
 public:
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string c) {
    caption_ = std::move(c);
    Notify(changed);
  }
  Observer changed;

 private:
  std::string caption_;
};

class Button {
 public:
  explicit Button(std::string caption = {}) : caption_(std::move(caption)) {}
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string c) {
    caption_ = std::move(c);
    Notify(changed);
  }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool e) {
    enabled_ = e;
    Notify(changed);
  }
  // Raw bytes of an icon file; empty means the built-in picture.
  const std::string& Picture() const { return picture_; }
  void SetPicture(std::string bytes) {
    picture_ = std::move(bytes);
    Notify(changed);
  }
  // A user's click: does nothing while disabled, as a real button would.
  void Click() {
    if (enabled_ && click) click();
  }
  std::function<void()> click;
  Observer changed;

 private:
  std::string caption_;
  bool enabled_ = true;
  std::string picture_;
};

// A drop-down list that accepts only its own items.
class DropDown {
 public:
  const std::vector<std::string>& Items() const { return items_; }
  int ListIndex() const { return index_; }
  void Clear() {
    items_.clear();
    index_ = -1;
    Notify(changed);
  }
  void AddItem(std::string item) {
    items_.push_back(std::move(item));
    Notify(changed);
  }
  // The chosen item's text, or empty while nothing is chosen.
  std::string Text() const { return index_ < 0 ? std::string{} : items_[index_]; }
  // Chooses the first item with exactly this text and raises the selection
  // event. Returns false, keeping the current choice, when no item matches.
  bool SetText(std::string_view text) {
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (items_[i] == text) {
        Choose(static_cast<int>(i));
        return true;
      }
    }
    return false;
  }
  // The user picks an item.
  void Choose(int index) {
    if (index < 0 || index >= static_cast<int>(items_.size())) return;
    index_ = index;
    Notify(changed);
    if (click) click();
  }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool e) {
    enabled_ = e;
    Notify(changed);
  }
  std::function<void()> click;  // selection event
  Observer changed;

 private:
  std::vector<std::string> items_;
  int index_ = -1;
  bool enabled_ = true;
};

// The activity log. Lines are packed into fixed-size chunks that never move,
// so a log of a million lines costs little more than its text and an append
// never copies what is already there. A line keeps at most kMaxLine bytes,
// then an ellipsis, so no one line can grow the log without bound.
class ListBox {
 public:
  static constexpr std::size_t kMaxLine = 4 * 1024;

  std::size_t ListCount() const { return entries_.size(); }
  std::string_view Item(std::size_t i) const {
    const Entry& e = entries_[i];
    return std::string_view(chunks_[e.chunk]).substr(e.offset, e.size);
  }
  void AddItem(std::string_view line) {
    const std::string_view kept = Utf8Prefix(line, kMaxLine);
    const std::string_view tail = kept.size() < line.size() ? kEllipsis : std::string_view();
    const std::size_t size = kept.size() + tail.size();
    if (chunks_.empty() || chunks_.back().capacity() - chunks_.back().size() < size) {
      chunks_.emplace_back().reserve(kChunk);
    }
    std::string& chunk = chunks_.back();
    entries_.push_back({static_cast<std::uint32_t>(chunks_.size() - 1),
                        static_cast<std::uint32_t>(chunk.size()),
                        static_cast<std::uint32_t>(size)});
    chunk.append(kept).append(tail);
    Notify(itemAdded);
  }
  long ListIndex() const { return index_; }
  void SetListIndex(long i) {
    index_ = i;
    Notify(selectionChanged);
  }
  Observer itemAdded;
  Observer selectionChanged;

 private:
  static constexpr std::size_t kChunk = 64 * 1024;
  static_assert(kMaxLine + kEllipsis.size() <= kChunk);
  struct Entry {
    std::uint32_t chunk, offset, size;
  };
  std::deque<std::string> chunks_;
  std::deque<Entry> entries_;
  long index_ = -1;
};

class Lamp {
 public:
  std::int32_t FillColor() const { return color_; }
  void SetFillColor(std::int32_t rgb) {
    color_ = rgb;
    Notify(changed);
  }
  Observer changed;

 private:
  std::int32_t color_ = 0;
};

// A timer ticks every Interval() ms while enabled. The composition root
// binds it to the event pump through `stateChanged`.
class Timer {
 public:
  Timer(int intervalMs, bool enabled) : interval_(intervalMs), enabled_(enabled) {}
  int Interval() const { return interval_; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool e) {
    if (e == enabled_) return;  // enabling a running timer does not restart it
    enabled_ = e;
    Notify(stateChanged);
  }
  void Tick() {
    if (enabled_ && tick) tick();
  }
  std::function<void()> tick;
  Observer stateChanged;

 private:
  int interval_;
  bool enabled_;
};

// The text box that ends the tracker link.
class LinkTextBox {
 public:
  const std::string& Text() const { return text_; }
  // Raises the change event only when the text really changes.
  void SetText(std::string t) {
    if (t == text_) return;
    text_ = std::move(t);
    Notify(changed);
    if (change) change();
  }
  const std::string& LinkTopic() const { return linkTopic_; }
  void SetLinkTopic(std::string t) { linkTopic_ = std::move(t); }
  const std::string& LinkItem() const { return linkItem_; }
  void SetLinkItem(std::string i) { linkItem_ = std::move(i); }
  int LinkMode() const { return linkMode_; }
  // 0 drops the link, 1 opens a hot link; `linkModeChanged` does the work
  // and may throw PortError, which leaves the mode at 0.
  void SetLinkMode(int mode) {
    linkMode_ = mode;
    if (!linkModeChanged) return;
    try {
      linkModeChanged();
    } catch (...) {
      linkMode_ = 0;
      throw;
    }
  }
  // From the link, which follows the tracker once set to 1: it came (back)
  // and is linked, or it went away.
  void LinkOpened() {
    linkMode_ = 1;
    if (linkOpen) linkOpen();
  }
  void LinkClosed() {
    if (linkClose) linkClose();
  }
  std::function<void()> change;
  std::function<void()> linkModeChanged;
  std::function<void()> linkOpen;
  std::function<void()> linkClose;
  Observer changed;

 private:
  std::string text_;
  std::string linkTopic_;
  std::string linkItem_;
  int linkMode_ = 0;
};

}  // namespace pasotune
