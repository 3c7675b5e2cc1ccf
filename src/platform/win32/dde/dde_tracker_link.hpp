// The tracker link over DDEML, as a client. Open connects to the service and
// topic, requests the item's current value, then holds a hot advise link on
// it; CF_TEXT in Windows-1252, UTF-8 towards the core. Values are handed
// over from the thread's message queue, never from inside DDEML, and only
// the newest of several waiting ones.
//
// Once open it follows the tracker. DDEML tells every instance when a server
// registers its service; the link then tries to link. Where that word does
// not come (a server that never registers, or Wine missing it), a slow retry
// does the same. A server that ends the conversation, or whose window is
// gone (killed without a word), has gone away.
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
  // While the tracker is away, how often the link tries again; while linked,
  // how often it makes sure the tracker's window is still there.
  static constexpr int kRetryMs = 3000;
  // After a server registers, how long before the link tries: Wine tells
  // before the server is ready to answer.
  static constexpr int kAfterRegisterMs = 200;
  // A longer value is not a tracking record: it is dropped.
  static constexpr std::size_t kMaxValueBytes = 64 * 1024;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace pasotune
