// What a tracker link has for the core and has not handed over yet, in the
// order it happened: the tracker linked, its values, the tracker gone. Values
// in a row wait as one, the newest, so a burst costs one update.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <utility>

#include "platform/ports.hpp"

namespace pasotune {

class TrackerNews {
 public:
  void Value(std::string value) {
    if (!items_.empty() && items_.back().kind == Kind::kValue) {
      items_.back().value = std::move(value);
    } else {
      items_.push_back({Kind::kValue, std::move(value)});
    }
  }
  void Linked() { items_.push_back({Kind::kLinked, {}}); }
  void Gone() { items_.push_back({Kind::kGone, {}}); }
  bool Empty() const { return items_.empty(); }
  bool HasValue() const {
    for (const Item& i : items_) {
      if (i.kind == Kind::kValue) return true;
    }
    return false;
  }
  void Clear() { items_.clear(); }

  // Hands everything waiting over, oldest first. onUpdate is the link's own
  // and read again for each value: a handler may close or reopen the link,
  // which clears what waits or puts the new link's news in its place. A
  // handler may also pump, and the news then goes on from inside it.
  template <class RaisePresence>
  void HandOver(const TrackerLink::Update& onUpdate, RaisePresence raisePresence) {
    while (!items_.empty()) {
      Item item = std::move(items_.front());
      items_.pop_front();
      if (item.kind == Kind::kValue) {
        if (const TrackerLink::Update update = onUpdate) update(item.value);
      } else {
        raisePresence(item.kind == Kind::kLinked);
      }
    }
  }

 private:
  enum class Kind { kValue, kLinked, kGone };
  struct Item {
    Kind kind;
    std::string value;
  };
  std::deque<Item> items_;
};

}  // namespace pasotune
