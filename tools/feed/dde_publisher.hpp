// One tracker item as a DDEML server: service, topic and item as Orbitron
// publishes them, CF_TEXT in Windows-1252. A request gets the current value;
// every new value goes to each advise link.
#pragma once

#include <string>

#include "platform/win32/dde/dde_text.hpp"

namespace pasotune::feed {

class DdePublisher {
 public:
  DdePublisher(std::string service, std::string topic, std::string item);
  ~DdePublisher();
  DdePublisher(const DdePublisher&) = delete;
  DdePublisher& operator=(const DdePublisher&) = delete;

  // Registers the service, holding firstValue (UTF-8). Returns why it could
  // not, or an empty string. One publisher per thread.
  std::string Start(const std::string& firstValue);
  // Ends every conversation and withdraws the service.
  void Stop();

  // Holds value (UTF-8) and sends it down every advise link.
  void Publish(const std::string& value);

 private:
  static HDDEDATA CALLBACK OnDde(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                 HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
  bool IsOurs(UINT format, HSZ item) const;

  std::string serviceName_, topicName_, itemName_;
  DWORD instance_ = 0;
  dde::Name service_, topic_, item_;
  bool registered_ = false;
  std::string value_;  // Windows-1252
};

}  // namespace pasotune::feed
