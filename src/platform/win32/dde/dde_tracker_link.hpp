// The tracker link over DDEML, as a client. Open connects to the service and
// topic, requests the item's current value, then holds a hot advise link on
// it; CF_TEXT in Windows-1252, UTF-8 towards the core. Values are handed
// over from the thread's message queue, never from inside DDEML, and only
// the newest of several waiting ones.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/ports.hpp"

namespace pasotune {

class DdeTrackerLink : public TrackerLink {
 public:
  DdeTrackerLink();
  ~DdeTrackerLink() override;
  DdeTrackerLink(const DdeTrackerLink&) = delete;
  DdeTrackerLink& operator=(const DdeTrackerLink&) = delete;

  void Open(const std::string& service, const std::string& topic, const std::string& item,
            Update onUpdate) override;
  void Close() override;

  // A conversation stands: opened, not closed, and not ended by the tracker.
  bool Linked() const;

  // How long Open waits for the tracker to answer the request and the advise.
  static constexpr int kTransactionTimeoutMs = 2000;
  // A longer value is not a tracking record: it is dropped.
  static constexpr std::size_t kMaxValueBytes = 64 * 1024;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace pasotune
