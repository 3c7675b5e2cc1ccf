#include "platform/win32/dde/dde_tracker_link.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/win32/dde/dde_text.hpp"
#include "platform/win32/dde/windows.hpp"

namespace pasotune {

namespace {

constexpr wchar_t kWindowClass[] = L"PasotuneDdeTrackerLink";
constexpr UINT kDeliver = WM_APP + 1;

}  // namespace

struct DdeTrackerLink::Impl {
  HWND window = nullptr;  // message-only; values reach the core from here
  DWORD instance = 0;
  dde::Name service, topic, item;
  HCONV conv = nullptr;
  HWND convWindow = nullptr;          // DDEML's window for our side of it
  bool ended = false;                 // the tracker ended the conversation
  std::optional<std::string> newest;  // not handed over yet
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
    if (watched.count(convWindow)) return;
    const auto original = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        convWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ConversationWindowProc)));
    if (original) watched[convWindow] = original;
  }

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
    newest = std::move(value);
    Post();
  }

  // Ends the conversation, if any, and the DDEML instance with it.
  void Drop() {
    links.erase(std::remove(links.begin(), links.end(), this), links.end());
    convWindow = nullptr;
    const HCONV c = std::exchange(conv, nullptr);
    if (c && !ended) DdeDisconnect(c);
    service = {};
    topic = {};
    item = {};
    if (instance) DdeUninitialize(std::exchange(instance, 0));
  }

  // From the message queue: the newest value to the core, then whatever the
  // tracker's leaving leaves to tidy up.
  void Deliver() {
    posted = false;
    if (newest) {
      const std::string value = std::move(*newest);
      newest.reset();
      // A copy: the handler may close or reopen the link.
      const Update update = onUpdate;
      if (update) update(value);
    }
    if (ended && instance) Drop();
  }

  static HDDEDATA CALLBACK OnDde(UINT type, UINT format, HCONV c, HSZ, HSZ hszItem, HDDEDATA data,
                                 ULONG_PTR, ULONG_PTR) {
    Impl* link = ByConversation(c);
    switch (type) {
      case XTYP_ADVDATA:
        if (!link || format != CF_TEXT || !link->item.Is(hszItem) || !data) {
          return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
        }
        if (std::optional<std::string> text = dde::ReadText(data, kMaxValueBytes)) {
          link->Hold(std::move(*text));
        }
        return reinterpret_cast<HDDEDATA>(DDE_FACK);
      case XTYP_DISCONNECT:
        if (link) link->Ended();
        return nullptr;
      default:
        return nullptr;
    }
  }

  static LRESULT CALLBACK WindowProc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
    if (message == kDeliver) {
      if (auto* link = reinterpret_cast<Impl*>(GetWindowLongPtrW(w, GWLP_USERDATA))) {
        link->Deliver();
      }
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
    newest.reset();
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

DdeTrackerLink::DdeTrackerLink() : impl_(std::make_unique<Impl>()) {}

DdeTrackerLink::~DdeTrackerLink() {
  Close();
  if (impl_->window) DestroyWindow(impl_->window);
}

bool DdeTrackerLink::Linked() const {
  return impl_->conv && !impl_->ended;
}

void DdeTrackerLink::Open(const std::string& service, const std::string& topic,
                          const std::string& item, Update onUpdate) {
  Close();
  Impl& l = *impl_;
  const std::string what = service + "|" + topic + " " + item;
  if (!dde::IsValidName(service) || !dde::IsValidName(topic) || !dde::IsValidName(item)) {
    throw PortError("Not a valid tracker link: " + what);
  }
  l.MakeWindow();
  const UINT started =
      DdeInitializeW(&l.instance, &Impl::OnDde, APPCMD_CLIENTONLY | CBF_SKIP_ALLNOTIFICATIONS, 0);
  if (started != DMLERR_NO_ERROR) {
    l.instance = 0;
    throw PortError("Cannot start DDE: " + dde::ErrorName(started));
  }
  Impl::links.push_back(&l);
  l.service = dde::Name(l.instance, service);
  l.topic = dde::Name(l.instance, topic);
  l.item = dde::Name(l.instance, item);
  if (!l.service || !l.topic || !l.item) {
    l.Fail("Cannot name " + what + ": " + dde::ErrorName(DdeGetLastError(l.instance)));
  }
  l.ended = false;
  l.conv = dde::Connect(l.instance, l.service.get(), l.topic.get());
  if (!l.conv) {
    l.Fail("No tracker is running: no DDE server answers for " + service + "|" + topic);
  }
  l.Watch();

  HDDEDATA data = DdeClientTransaction(nullptr, 0, l.conv, l.item.get(), CF_TEXT, XTYP_REQUEST,
                                       kTransactionTimeoutMs, nullptr);
  if (!data) {
    l.Fail("Cannot read " + what + ": " + dde::ErrorName(DdeGetLastError(l.instance)));
  }
  std::optional<std::string> first = dde::ReadText(data, kMaxValueBytes);
  DdeFreeDataHandle(data);
  l.LetConversationSettle();
  if (!DdeClientTransaction(nullptr, 0, l.conv, l.item.get(), CF_TEXT, XTYP_ADVSTART,
                            kTransactionTimeoutMs, nullptr)) {
    l.Fail("Cannot follow " + what + ": " + dde::ErrorName(DdeGetLastError(l.instance)));
  }
  l.onUpdate = std::move(onUpdate);
  // Handed over from the queue like every later value; one that arrived
  // meanwhile is newer and takes its place.
  if (first && !l.newest) l.Hold(std::move(*first));
}

void DdeTrackerLink::Close() {
  impl_->Drop();
  impl_->ended = false;
  impl_->newest.reset();
  impl_->onUpdate = nullptr;
}

}  // namespace pasotune
