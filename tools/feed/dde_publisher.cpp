#include "dde_publisher.hpp"

#include <utility>

#include "platform/text.hpp"

namespace pasotune::feed {

namespace {

// DDEML's callback gets no context of ours.
thread_local DdePublisher* t_publisher = nullptr;

HDDEDATA CALLBACK Ignore(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
  return nullptr;
}

// Whether some server already answers for service and topic.
bool Answered(const std::string& service, const std::string& topic) {
  DWORD probe = 0;
  if (DdeInitializeW(&probe, &Ignore, APPCMD_CLIENTONLY | CBF_SKIP_ALLNOTIFICATIONS, 0) !=
      DMLERR_NO_ERROR) {
    return false;
  }
  bool answered = false;
  {
    const dde::Name s(probe, service), t(probe, topic);
    if (HCONV conv = dde::Connect(probe, s.get(), t.get())) {
      answered = true;
      DdeDisconnect(conv);
    }
  }
  DdeUninitialize(probe);
  return answered;
}

}  // namespace

DdePublisher::DdePublisher(std::string service, std::string topic, std::string item)
    : serviceName_(std::move(service)), topicName_(std::move(topic)), itemName_(std::move(item)) {}

DdePublisher::~DdePublisher() {
  Stop();
}

std::string DdePublisher::Start(const std::string& firstValue) {
  for (const std::string* name : {&serviceName_, &topicName_, &itemName_}) {
    if (!dde::IsValidName(*name)) return "no es un nombre DDE válido: «" + *name + "»";
  }
  if (t_publisher) return "un publicador por hilo";
  const std::string what = serviceName_ + "|" + topicName_;
  if (Answered(serviceName_, topicName_)) return what + " ya lo publica otro programa";

  const UINT started =
      DdeInitializeW(&instance_, &DdePublisher::OnDde,
                     APPCLASS_STANDARD | APPCMD_FILTERINITS | CBF_FAIL_EXECUTES | CBF_FAIL_POKES |
                         CBF_SKIP_CONNECT_CONFIRMS | CBF_SKIP_DISCONNECTS | CBF_SKIP_REGISTRATIONS |
                         CBF_SKIP_UNREGISTRATIONS,
                     0);
  if (started != DMLERR_NO_ERROR) {
    instance_ = 0;
    return "no se puede arrancar DDE: " + dde::ErrorName(started);
  }
  t_publisher = this;
  value_ = Utf8ToCp1252(firstValue);
  service_ = dde::Name(instance_, serviceName_);
  topic_ = dde::Name(instance_, topicName_);
  item_ = dde::Name(instance_, itemName_);
  if (!service_ || !topic_ || !item_ ||
      !DdeNameService(instance_, service_.get(), nullptr, DNS_REGISTER)) {
    const std::string why =
        "no se puede publicar " + what + ": " + dde::ErrorName(DdeGetLastError(instance_));
    Stop();
    return why;
  }
  registered_ = true;
  return {};
}

void DdePublisher::Stop() {
  if (!instance_) return;
  if (registered_) DdeNameService(instance_, service_.get(), nullptr, DNS_UNREGISTER);
  registered_ = false;
  service_ = {};
  topic_ = {};
  item_ = {};
  // Ends each conversation: the clients learn the server is gone.
  DdeUninitialize(std::exchange(instance_, 0));
  t_publisher = nullptr;
}

void DdePublisher::Publish(const std::string& value) {
  value_ = Utf8ToCp1252(value);
  if (instance_) DdePostAdvise(instance_, topic_.get(), item_.get());
}

bool DdePublisher::IsOurs(UINT format, HSZ item) const {
  return format == CF_TEXT && item_.Is(item);
}

HDDEDATA CALLBACK DdePublisher::OnDde(UINT type, UINT format, HCONV, HSZ hsz1, HSZ hsz2, HDDEDATA,
                                      ULONG_PTR, ULONG_PTR) {
  DdePublisher* p = t_publisher;
  if (!p) return nullptr;
  switch (type) {
    case XTYP_CONNECT:  // hsz1 the topic, hsz2 the service
      return reinterpret_cast<HDDEDATA>(
          static_cast<UINT_PTR>(p->topic_.Is(hsz1) && p->service_.Is(hsz2)));
    case XTYP_ADVSTART:  // hsz1 the topic, hsz2 the item
      return reinterpret_cast<HDDEDATA>(
          static_cast<UINT_PTR>(p->topic_.Is(hsz1) && p->IsOurs(format, hsz2)));
    case XTYP_REQUEST:
    case XTYP_ADVREQ:
      if (!p->topic_.Is(hsz1) || !p->IsOurs(format, hsz2)) return nullptr;
      return dde::MakeText(p->instance_, p->item_.get(), p->value_);
    default:
      return nullptr;
  }
}

}  // namespace pasotune::feed
