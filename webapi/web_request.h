#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "account/server_list.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace vokar {

class NetworkMonitor;

// The command of the progress screen's only soft key, "Hide".
constexpr int kHideCommand = 10164;

// Where a request's final message goes.
enum class MessagePlacement {
    // Replaces the request's progress screen when that is still the current
    // screen; otherwise shown over the current screen.
    ReplaceProgress,
    // Replaces whatever screen is current (the time limit passed).
    ReplaceCurrent,
};

// The screens' side of a web request, implemented by the user interface.
// show_progress and hide_progress are called on the thread that starts the
// request or presses the key; show_message on the request's worker thread.
class WebRequestUi {
public:
    virtual ~WebRequestUi() = default;
    // Shows the progress screen with `text`; its soft key calls on_key with
    // the key's command (kHideCommand).
    virtual void show_progress(const std::wstring& text,
                               std::function<void(int command)> on_key) = 0;
    // Hides the progress screen if one is showing.
    virtual void hide_progress() = 0;
    virtual void show_message(const std::wstring& text, bool error, MessagePlacement placement) = 0;
};

// What a request needs of the bearer: whether the network is available and
// the local address to bind (empty: any). A missing network_available means
// no network.
struct WebBearer {
    std::function<bool()> network_available;
    std::function<std::string()> local_address;
};

// The bearer as the NetworkMonitor reports it; the monitor must outlive every
// request started with it.
WebBearer bearer_of(const NetworkMonitor& monitor);

// One request to the web service. The starting thread fills it; the worker
// records the outcome in done, succeeded and response.
struct WebRequest {
    std::string request_text; // the complete HTTP request
    std::wstring progress_text;
    std::wstring success_text;
    std::wstring failure_text;
    std::wstring response;     // the answer body, status character included
    std::string host_override; // contacted instead of the web endpoint when not empty
    bool done = false;
    bool succeeded = false;
    bool append_response = false; // success message = success_text + payload
    bool show_messages = false;   // progress screen and final message
    std::function<void(std::wstring payload)> on_success; // on the worker thread
    std::function<void(int command)> on_progress_key;
};

// Runs web requests, each on a worker thread that starts a perform thread
// for the network exchange and waits at most kTimeLimitMs on the clock for
// it. At the limit the exchange is abandoned: its socket is shut down, and
// what it records afterwards is discarded. The exchange's state is shared by
// the two threads and freed by whichever finishes last.
class WebRequestRunner {
public:
    static constexpr uint32_t kTimeLimitMs = 45000;
    static constexpr uint32_t kPollMs = 500;
    static constexpr size_t kReceiveBytes = 5000;

    // `endpoint` gives the web service's current host and port; it is asked
    // on the worker thread. `ui` may be null: nothing is then shown.
    WebRequestRunner(WebBearer bearer, std::function<ServerEndpoint()> endpoint, WebRequestUi* ui,
                     platform::Clock& clock = platform::system_clock());
    // Stops every running request (no message, no callback) and joins the
    // workers. Abandoned exchanges only hold their own state.
    ~WebRequestRunner();
    WebRequestRunner(const WebRequestRunner&) = delete;
    WebRequestRunner& operator=(const WebRequestRunner&) = delete;

    void start(std::shared_ptr<WebRequest> request);

    // Waits up to timeout_ms until no worker and no perform thread runs.
    bool wait_idle(uint32_t timeout_ms);

    struct Exchange;
    struct Tracker;

private:
    struct Worker {
        platform::Thread thread;
        std::shared_ptr<Exchange> exchange;
    };

    void work(WebRequest& request, const std::shared_ptr<Exchange>& exchange);
    bool launch(const std::shared_ptr<Exchange>& exchange);
    void finish(WebRequest& request, bool in_time);
    void reap_locked();

    const WebBearer bearer_;
    const std::function<ServerEndpoint()> endpoint_;
    WebRequestUi* const ui_;
    platform::Clock& clock_;
    const std::shared_ptr<Tracker> tracker_;

    std::mutex workers_mutex_;
    std::list<Worker> workers_;
    bool stopping_ = false;
};

} // namespace vokar
