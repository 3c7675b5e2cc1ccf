#include "platform/win32/dde/dde_tracker_link.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/tracker_news.hpp"
#include "platform/win32/dde/dde_text.hpp"
#include "platform/win32/dde/windows.hpp"

namespace pasotune {

namespace {

constexpr wchar_t kWindowClass[] = L"PasotuneDdeTrackerLink";
constexpr UINT kDeliver = WM_APP + 1;
constexpr UINT_PTR kRetryTimer = 1;
constexpr UINT_PTR kSoonTimer = 2;

}  // namespace

struct DdeTrackerLink::Impl {
  explicit Impl(DdeTrackerLink& owner) : owner(owner) {}

  DdeTrackerLink& owner;
  HWND window = nullptr;  // message-only; news reaches the core from here
  DWORD instance = 0;     // while following
  dde::Name service, topic, item;
  std::string what;  // "service|topic item", for the messages
  HCONV conv = nullptr;
  HWND convWindow = nullptr;                // DDEML's window for our side of it
  HWND partner = nullptr;                   // the tracker's window for its side
  bool ended = false;                       // the tracker ended the conversation
  bool linking = false;                     // inside TryLink
  std::optional<std::string> whileLinking;  // advised before the link was made
  TrackerNews news;
  bool posted = false;
  Update onUpdate;

  // DDEML's callback gets no context of ours: the links of this thread.
  static thread_local std::vector<Impl*> links;

  static Impl* ByConversation(HCONV c) {
    const auto it = std::find_if(links.begin(), links.end(),
                                 [c](const Impl* l) { return l->conv && l->conv == c; });
    return it == links.end() ? nullptr : *it;
  }

  // Wine's DDEML never calls back XTYP_DISCONNECT, so the tracker's
  // WM_DDE_TERMINATE is watched for on the conversation's own window.
  static thread_local std::map<HWND, WNDPROC> watched;

  static LRESULT CALLBACK ConversationWindowProc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
    const auto it = watched.find(w);
    if (it == watched.end()) return DefWindowProcW(w, message, wp, lp);
    const WNDPROC original = it->second;
    if (message == WM_NCDESTROY) watched.erase(it);
    const LRESULT result = CallWindowProcW(original, w, message, wp, lp);
    if (message == WM_DDE_TERMINATE) {
      const auto link = std::find_if(links.begin(), links.end(),
                                     [w](const Impl* l) { return l->convWindow == w; });
      if (link != links.end()) (*link)->Ended();
    }
    return result;
  }

  void Watch() {
    CONVINFO info{};
    info.cb = sizeof info;
    if (!DdeQueryConvInfo(conv, QID_SYNC, &info) || !info.hwnd) return;
    convWindow = info.hwnd;
    partner = info.hwndPartner;
    if (watched.count(convWindow)) return;
    const auto original = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        convWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ConversationWindowProc)));
    if (original) watched[convWindow] = original;
  }

  bool Linked() const { return conv && !ended; }

  // The rest is done from the queue, never from inside DDEML.
  void Ended() {
    ended = true;
    Post();
  }

  void Post() {
    if (posted) return;
    posted = PostMessageW(window, kDeliver, 0, 0) != FALSE;
  }

  void Hold(std::string value) {
    if (linking) {
      whileLinking = std::move(value);
      return;
    }
    news.Value(std::move(value));
    Post();
  }

  void EndConversation() {
    convWindow = nullptr;
    partner = nullptr;
    const HCONV c = std::exchange(conv, nullptr);
    if (c && !ended) DdeDisconnect(c);
    ended = false;
  }

  // Stops following: the conversation, the timers and the DDEML instance go.
  void Drop() {
    if (window) {
      KillTimer(window, kRetryTimer);
      KillTimer(window, kSoonTimer);
    }
    EndConversation();
    links.erase(std::remove(links.begin(), links.end(), this), links.end());
    service = {};
    topic = {};
    item = {};
    if (instance) DdeUninitialize(std::exchange(instance, 0));
  }

  // The tracker went away: the news says so after what it sent before.
  void Lost() {
    EndConversation();
    news.Gone();
    Post();
  }

  // Connects, reads the current value and starts the advise loop. Returns
  // why it could not, or nothing. A tracker that answers the read with
  // nothing (Orbitron before its output is switched on) is linked all the
  // same: its values come down the advise loop once it has some.
  std::optional<std::string> TryLink(bool patient) {
    linking = true;
    whileLinking.reset();
    // What waited for the link to be made goes out once it is.
    struct Done {
      Impl& link;
      ~Done() {
        link.linking = false;
        if (!link.news.Empty() || link.ended) link.Post();
      }
    } done{*this};
    conv = patient ? dde::Connect(instance, service.get(), topic.get())
                   : DdeConnect(instance, service.get(), topic.get(), nullptr);
    if (!conv) return "No tracker is running: no DDE server answers for " + what;
    ended = false;
    Watch();
    std::optional<std::string> first;
    if (HDDEDATA data = DdeClientTransaction(nullptr, 0, conv, item.get(), CF_TEXT, XTYP_REQUEST,
                                             kTransactionTimeoutMs, nullptr)) {
      first = dde::ReadText(data, kMaxValueBytes);
      DdeFreeDataHandle(data);
    }
    LetConversationSettle();
    if (ended || !DdeClientTransaction(nullptr, 0, conv, item.get(), CF_TEXT, XTYP_ADVSTART,
                                       kTransactionTimeoutMs, nullptr)) {
      const std::string why =
          "Cannot follow " + what + ": " + dde::ErrorName(DdeGetLastError(instance));
      EndConversation();
      return why;
    }
    // An advised value came after the read: it is the newer.
    if (whileLinking) first = std::move(whileLinking);
    whileLinking.reset();
    if (!patient) news.Linked();
    if (first) news.Value(std::move(*first));
    return std::nullopt;
  }

  // From the timers: try to link while the tracker is away; while linked,
  // make sure its window is still there.
  void Check() {
    if (!instance || linking) return;
    if (conv) {
      if (!ended && partner && !IsWindow(partner)) Lost();
      return;
    }
    TryLink(false);
  }

  // From the message queue: the news to the core, oldest first.
  void Deliver() {
    posted = false;
    if (linking) return;  // DDEML pumps inside the link's making: later
    if (ended && conv) Lost();
    news.HandOver(onUpdate, [this](bool linked) { owner.RaisePresence(linked); });
  }

  static Impl* ByService(HSZ name) {
    const auto it = std::find_if(links.begin(), links.end(),
                                 [name](const Impl* l) { return l->service.Is(name); });
    return it == links.end() ? nullptr : *it;
  }

  static HDDEDATA CALLBACK OnDde(UINT type, UINT format, HCONV c, HSZ hsz1, HSZ hszItem,
                                 HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    switch (type) {
      case XTYP_ADVDATA: {
        Impl* link = ByConversation(c);
        if (!link || format != CF_TEXT || !link->item.Is(hszItem) || !data) {
          return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
        }
        if (std::optional<std::string> text = dde::ReadText(data, kMaxValueBytes)) {
          link->Hold(std::move(*text));
        }
        return reinterpret_cast<HDDEDATA>(DDE_FACK);
      }
      case XTYP_DISCONNECT:
        if (Impl* link = ByConversation(c)) link->Ended();
        return nullptr;
      case XTYP_REGISTER:  // hsz1 the service
      case XTYP_UNREGISTER:
        // Looked at from the queue: soon, for a server to finish starting,
        // or for one that leaves to end its conversations.
        if (Impl* link = ByService(hsz1))
          SetTimer(link->window, kSoonTimer, kAfterRegisterMs, nullptr);
        return nullptr;
      default:
        return nullptr;
    }
  }

  static LRESULT CALLBACK WindowProc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
    auto* link = reinterpret_cast<Impl*>(GetWindowLongPtrW(w, GWLP_USERDATA));
    if (message == kDeliver) {
      if (link) link->Deliver();
      return 0;
    }
    if (message == WM_TIMER && (wp == kRetryTimer || wp == kSoonTimer)) {
      if (wp == kSoonTimer) KillTimer(w, kSoonTimer);
      if (link) link->Check();
      return 0;
    }
    return DefWindowProcW(w, message, wp, lp);
  }

  void MakeWindow() {
    if (window) return;
    const HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = module;
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);  // fails harmlessly when already there
    window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module,
                             nullptr);
    if (!window) {
      throw PortError("Cannot make the DDE link's window: error " + std::to_string(GetLastError()));
    }
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  [[noreturn]] void Fail(const std::string& why) {
    Drop();
    news.Clear();
    throw PortError(why);
  }

  // Under Wine the advise request that follows a request straight away can
  // go unanswered: let the conversation's messages through first.
  void LetConversationSettle() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_DDE_FIRST, WM_DDE_LAST, PM_REMOVE)) {
      DispatchMessageW(&msg);
    }
  }
};

thread_local std::vector<DdeTrackerLink::Impl*> DdeTrackerLink::Impl::links;
thread_local std::map<HWND, WNDPROC> DdeTrackerLink::Impl::watched;

DdeTrackerLink::DdeTrackerLink() : impl_(std::make_unique<Impl>(*this)) {}

DdeTrackerLink::~DdeTrackerLink() {
  Close();
  if (impl_->window) DestroyWindow(impl_->window);
}

bool DdeTrackerLink::Linked() const {
  return impl_->Linked();
}

void DdeTrackerLink::Open(const std::string& service, const std::string& topic,
                          const std::string& item, Update onUpdate) {
  Close();
  Impl& l = *impl_;
  l.what = service + "|" + topic + " " + item;
  if (!dde::IsValidName(service) || !dde::IsValidName(topic) || !dde::IsValidName(item)) {
    throw PortError("Not a valid tracker link: " + l.what);
  }
  l.MakeWindow();
  // Registrations and disconnections are what the link follows the tracker by.
  const UINT started = DdeInitializeW(&l.instance, &Impl::OnDde, APPCMD_CLIENTONLY, 0);
  if (started != DMLERR_NO_ERROR) {
    l.instance = 0;
    throw PortError("Cannot start DDE: " + dde::ErrorName(started));
  }
  Impl::links.push_back(&l);
  l.service = dde::Name(l.instance, service);
  l.topic = dde::Name(l.instance, topic);
  l.item = dde::Name(l.instance, item);
  if (!l.service || !l.topic || !l.item) {
    l.Fail("Cannot name " + l.what + ": " + dde::ErrorName(DdeGetLastError(l.instance)));
  }
  l.onUpdate = std::move(onUpdate);
  SetTimer(l.window, kRetryTimer, kRetryMs, nullptr);
  // Handed over from the queue like every later value.
  if (std::optional<std::string> why = l.TryLink(true)) throw PortError(*why);
}

void DdeTrackerLink::Close() {
  impl_->Drop();
  impl_->news.Clear();
  impl_->onUpdate = nullptr;
}

}  // namespace pasotune
