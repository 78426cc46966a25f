#include "sip/sip_stack.h"

#include <algorithm>
#include <limits>

#include "base/random.h"
#include "sip/sip_builder.h"
#include "sip/sip_dialog.h"

namespace vokar {

SipListener::~SipListener() = default;
SipStackInterface::~SipStackInterface() = default;

namespace {

constexpr uint32_t kKeepAliveMs = 30000;
constexpr uint32_t kTransactionUnitMs = 2500;
constexpr int kRegisterUnits = 25;
constexpr int kUnregisterUnits = 5;
constexpr int kInviteUnits = 145;
constexpr int kCancelUnits = 30;
constexpr int kRingingUnits = 45;
constexpr int kResendBudgetS = 15;
constexpr int kCancelBudgetS = 30;
constexpr int kInviteBudgetS = 145;
constexpr int64_t kFirstRetransmitMs = 3500;
constexpr int64_t kShortestRetransmitMs = 500;
constexpr int kLastRetransmit = 11;
constexpr int kRetransmitsDone = 12;
constexpr int kWwwAuthRetryLimit = 1;
constexpr int kProxyAuthRetryLimit = 3;
constexpr int kByeCopies = 3;
constexpr char kKeepAlive[] = " ";
// Incoming calls have no timer: beyond this many dialogs a new INVITE is
// ignored, so a flood of them cannot grow memory without bound.
constexpr size_t kMaxDialogs = 64;

// True once `now` has reached `due` (the tick counter may wrap in between).
bool reached(uint32_t now, uint32_t due)
{
    return static_cast<int32_t>(now - due) >= 0;
}

std::string new_call_key()
{
    std::string key = "UniqueTransactionCode";
    for (int i = 0; i < 3; ++i)
        key += "-" + std::to_string(random_number());
    return key;
}

bool same_challenge(const DigestChallenge& a, const DigestChallenge& b)
{
    return a.nonce == b.nonce && a.header_name == b.header_name && a.realm == b.realm;
}

int end_reason_for(int status, int current)
{
    switch (status) {
    case 486:
        return SipCall::kEndBusy;
    case 404:
        return SipCall::kEndNotFound;
    case 408:
        return SipCall::kEndTimeout;
    case 503:
        return SipCall::kEndUnavailable;
    default:
        return current;
    }
}

} // namespace

// One dialog with its call record and its two timers.
struct SipStack::Transaction final : TimerListener {
    void onTimer() override {}

    SipDialog dialog;
    SipCall call;
    // TransactionTimer.
    std::optional<uint32_t> transaction_due;
    // RetransmitTimer: the text it repeats, its count and budget.
    std::optional<uint32_t> retransmit_due;
    std::string retransmit_text;
    int retransmit_count = 0;
    int64_t retransmit_budget_ms = 0;
};

SipStack::SipStack(const std::string& domain, Reactor& reactor, DisposalQueue& disposal,
                   int registration_period)
    : reactor_(reactor), disposal_(disposal), registration_period_(registration_period),
      alive_(std::make_shared<Alive>())
{
    core_.domain = domain;
    alive_->stack = this;
    keepalive_due_ = reactor_.clock().tick_count() + kKeepAliveMs;
    armed_due_ = keepalive_due_;
    arm(keepalive_due_);
    event_thread_ = platform::Thread([this] { run_events(); });
}

SipStack::~SipStack()
{
    {
        // Waits for a timer entry running now; later ones find no stack.
        std::lock_guard lock(alive_->mutex);
        alive_->stack = nullptr;
    }
    std::unique_ptr<ConnectionInterface> transport;
    {
        std::lock_guard lock(mutex_);
        transport = std::move(transport_);
    }
    if (transport) {
        transport->clearListener(this);
        transport->close();
        transport.reset(); // waits for the receive thread
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    event_thread_.join(); // after an event being raised now
}

// ---------------------------------------------------------------- entries

void SipStack::finish_entry(std::unique_lock<std::mutex>& lock)
{
    std::vector<std::unique_ptr<Transaction>> retired = std::move(retired_);
    retired_.clear();
    const bool keepalive = keepalive_pending_;
    keepalive_pending_ = false;
    ConnectionInterface* transport = transport_.get();
    if (const auto next = earliest_due();
        next && (!armed_due_ || static_cast<int32_t>(*next - *armed_due_) < 0)) {
        armed_due_ = next;
        arm_request_ = next;
    }
    const bool wake = arm_request_ || !events_.empty();
    // One thread at a time sends, in the order the entries queued the
    // datagrams; a thread that finds another sending leaves its own to it.
    const bool sender = !sending_ && transport;
    sending_ = sending_ || sender;
    while (sender && !outbox_.empty()) {
        const std::string text = std::move(outbox_.front());
        outbox_.pop_front();
        lock.unlock();
        transport->send(text);
        lock.lock();
    }
    if (sender)
        sending_ = false;
    lock.unlock();
    if (wake)
        work_.notify_all();
    // The reactor thread must not block on a busy transport.
    if (transport && keepalive)
        transport->trySend(kKeepAlive);
    for (auto& t : retired)
        disposal_.add(std::move(t));
}

void SipStack::run_events()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return stopping_ || arm_request_ || !events_.empty(); });
        if (stopping_)
            break;
        working_ = true;
        if (arm_request_) {
            // Scheduling may wait for the reactor's queue: never under the lock.
            const uint32_t due = *arm_request_;
            arm_request_.reset();
            lock.unlock();
            arm(due);
            lock.lock();
        } else {
            const Event event = std::move(events_.front());
            events_.pop_front();
            const void* data = nullptr;
            if (const auto* result = std::get_if<SipResult>(&event.data))
                data = result;
            else if (const auto* call = std::get_if<SipCall>(&event.data))
                data = call;
            const std::vector<SipListener*> listeners = listeners_;
            for (SipListener* listener : listeners) {
                // One removed by an earlier listener of this event gets nothing.
                if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
                    continue;
                delivering_to_ = listener;
                lock.unlock();
                listener->on_sip_event(event.code, data);
                lock.lock();
                delivering_to_ = nullptr;
                idle_.notify_all();
            }
        }
        working_ = false;
        if (!arm_request_ && events_.empty())
            idle_.notify_all();
    }
    working_ = false;
    idle_.notify_all();
}

void SipStack::wait_idle()
{
    std::unique_lock lock(mutex_);
    idle_.wait(lock,
               [this] { return stopping_ || (!working_ && !arm_request_ && events_.empty()); });
}

void SipStack::onConnectResult(int)
{
    std::unique_lock lock(mutex_);
    events_.push_back(Event{kSipTransportOpened, {}});
    finish_entry(lock);
}

void SipStack::arm(uint32_t due)
{
    // The reactor runs an entry once its time has passed: due - 1 makes it
    // run as the clock reaches `due`.
    const int32_t wait = static_cast<int32_t>(due - reactor_.clock().tick_count()) - 1;
    reactor_.schedule(
        [alive = alive_, due] {
            std::lock_guard lock(alive->mutex);
            if (alive->stack)
                alive->stack->on_due(due);
        },
        static_cast<uint32_t>(std::max(wait, 0)), false);
}

void SipStack::on_due(uint32_t due)
{
    std::unique_lock lock(mutex_);
    if (armed_due_ == due)
        armed_due_.reset();
    run_timers(reactor_.clock().tick_count());
    finish_entry(lock);
}

std::optional<uint32_t> SipStack::earliest_due() const
{
    uint32_t earliest = keepalive_due_;
    const auto consider = [&](const std::optional<uint32_t>& due) {
        if (due && static_cast<int32_t>(*due - earliest) < 0)
            earliest = *due;
    };
    consider(refresh_due_);
    for (const auto& t : dialogs_) {
        consider(t->transaction_due);
        consider(t->retransmit_due);
    }
    return earliest;
}

void SipStack::on_receive(const std::string& text)
{
    std::unique_lock lock(mutex_);
    if (auto message = parse(text)) {
        if (!message->balance.empty() && !message->currency.empty()) {
            std::string currency = message->currency;
            if (currency == "USD")
                currency = "$";
            else if (currency == "ZAR")
                currency = "R";
            // Only the latest balance is kept: the owner shows the current one.
            balance_text_ = currency + message->balance;
        }
        if (message->is_request()) {
            handle_request(*message);
        } else if (Transaction* t = find_by_call_id(message->call_id)) {
            handle_response(*t, *message);
        }
    }
    finish_entry(lock);
}

// ---------------------------------------------------------------- owner operations

void SipStack::add_listener(SipListener* listener)
{
    std::lock_guard lock(mutex_);
    if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
        listeners_.push_back(listener);
}

void SipStack::remove_listener(SipListener* listener)
{
    std::unique_lock lock(mutex_);
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
    if (!event_thread_.is_current())
        idle_.wait(lock, [&] { return delivering_to_ != listener; });
}

void SipStack::add_codec(int payload_type)
{
    std::lock_guard lock(mutex_);
    core_.add_codec(payload_type);
}

void SipStack::set_display_name(const std::string& name)
{
    std::lock_guard lock(mutex_);
    core_.display_name = name;
}

void SipStack::set_local_address(const std::string& address, int media_port)
{
    std::lock_guard lock(mutex_);
    core_.local_ip = address;
    core_.rtp_port = media_port;
}

void SipStack::set_rtp_port(int port)
{
    std::lock_guard lock(mutex_);
    core_.rtp_port = port;
}

void SipStack::set_stun_address(const std::string& address, int port)
{
    std::lock_guard lock(mutex_);
    core_.stun_ip = address;
    core_.stun_port = port;
}

bool SipStack::open(std::unique_ptr<ConnectionInterface> transport, const std::string& host,
                    const std::string& local_address, uint16_t port, uint16_t local_port)
{
    ConnectionInterface* raw = transport.get();
    {
        std::lock_guard lock(mutex_);
        if (transport_ || !raw)
            return false;
        transport_ = std::move(transport);
        core_.local_ip = local_address;
        core_.sip_port = local_port;
    }
    raw->setListener(this);
    // Opening may report its outcome (event kSipTransportOpened) at once.
    raw->open(local_port, port, host, true);
    return true;
}

void SipStack::register_account(const std::string& user, const std::string& password)
{
    std::unique_lock lock(mutex_);
    core_.username = user;
    core_.password = password;
    do_register(false);
    finish_entry(lock);
}

void SipStack::unregister()
{
    std::unique_lock lock(mutex_);
    refresh_due_.reset();
    do_register(true);
    finish_entry(lock);
}

std::optional<std::string> SipStack::call(const std::string& user, const std::string& host)
{
    std::unique_lock lock(mutex_);
    if (!registered_)
        return std::nullopt;
    ++cseq_counter_;
    SipMessage invite = new_request(core_, cseq_counter_, "INVITE", user, host, -1);
    auto t = std::make_unique<Transaction>();
    SipDialog& d = t->dialog;
    d.kind = SipDialog::kInvite;
    d.client_side = true;
    d.call_id = invite.call_id;
    d.method = "INVITE";
    d.branch = invite.branch;
    d.local_tag = invite.from.tag;
    d.local_address = invite.from;
    d.remote_address = invite.to;
    d.last_cseq = invite.cseq;
    d.local_sdp = local_session(core_);
    invite.set_sdp_body(*d.local_sdp);
    t->call.call_key = new_call_key();
    t->call.sip_call_id = invite.call_id;
    t->call.remote_user = user;
    t->call.remote_host = host;
    t->call.state = SipCall::kStateCalling;
    t->call.direction = SipCall::kOutgoing;
    Transaction* inserted = insert(std::move(t));
    if (!inserted) {
        finish_entry(lock);
        return std::nullopt;
    }
    const std::string text = invite.to_text().str();
    send(text);
    start_transaction_timer(*inserted, kInviteUnits);
    start_retransmit(*inserted, text, kInviteBudgetS);
    std::string key = inserted->call.call_key;
    finish_entry(lock);
    return key;
}

void SipStack::ringing(const std::string& call_key)
{
    std::unique_lock lock(mutex_);
    if (Transaction* t = find_by_key(call_key); t && !t->dialog.client_side)
        send(new_response(core_, t->dialog, kReasonRinging, 180));
    finish_entry(lock);
}

void SipStack::accept(const std::string& call_key)
{
    std::unique_lock lock(mutex_);
    // Only an incoming call can be answered with a 200.
    if (Transaction* t = find_by_key(call_key);
        t && t->dialog.kind == SipDialog::kInvite && !t->dialog.client_side) {
        t->call.state = SipCall::kStateConnected;
        SdpSession answer = local_session(core_);
        if (t->dialog.remote_sdp)
            answer.session_id = t->dialog.remote_sdp->session_id;
        t->dialog.local_sdp = answer;
        SipMessage ok = new_response(core_, t->dialog, kReasonCallAccepted, 200);
        ok.set_sdp_body(answer);
        send(ok);
    }
    finish_entry(lock);
}

void SipStack::hangup(const std::string& call_key)
{
    std::unique_lock lock(mutex_);
    Transaction* t = find_by_key(call_key);
    if (t && t->dialog.kind == SipDialog::kInvite) {
        const int state = t->call.state;
        const bool early = state == SipCall::kStateCalling || state == SipCall::kStateRemoteRinging;
        if (t->call.direction == SipCall::kOutgoing && early) {
            const std::string text =
                dialog_request(core_, t->dialog, cseq_counter_, "CANCEL", -1).to_text().str();
            send(text);
            t->call.state = SipCall::kStateCancelling;
            start_transaction_timer(*t, kCancelUnits);
            start_retransmit(*t, text, kCancelBudgetS);
        } else if (t->call.direction == SipCall::kIncoming &&
                   (state == SipCall::kStateIncoming || state == SipCall::kStateRemoteRinging)) {
            // The dialog stays until the caller's ACK.
            t->call.state = SipCall::kStateCancelling;
            send(new_response(core_, t->dialog, kReasonBusyHere, 486));
        } else {
            send_bye(*t);
        }
    }
    finish_entry(lock);
}

std::string SipStack::balance_text()
{
    std::lock_guard lock(mutex_);
    return balance_text_;
}

// ---------------------------------------------------------------- dialogs

SipStack::Transaction* SipStack::find_by_call_id(const std::string& call_id)
{
    for (auto& t : dialogs_)
        if (t->dialog.call_id == call_id)
            return t.get();
    return nullptr;
}

SipStack::Transaction* SipStack::find_by_key(const std::string& call_key)
{
    for (auto& t : dialogs_)
        if (t->call.call_key == call_key)
            return t.get();
    return nullptr;
}

SipStack::Transaction* SipStack::insert(std::unique_ptr<Transaction> transaction)
{
    if (find_by_call_id(transaction->dialog.call_id))
        return nullptr;
    if (transaction->call.call_key.empty())
        transaction->call.call_key = new_call_key();
    transaction->call.sip_call_id = transaction->dialog.call_id;
    dialogs_.push_back(std::move(transaction));
    return dialogs_.back().get();
}

void SipStack::remove(Transaction* transaction)
{
    const auto it = std::find_if(dialogs_.begin(), dialogs_.end(),
                                 [&](const auto& t) { return t.get() == transaction; });
    if (it == dialogs_.end())
        return;
    (*it)->transaction_due.reset();
    (*it)->retransmit_due.reset();
    retired_.push_back(std::move(*it));
    dialogs_.erase(it);
}

void SipStack::send(const std::string& text)
{
    outbox_.push_back(text);
}

void SipStack::send(const SipMessage& message)
{
    outbox_.push_back(message.to_text().str());
}

void SipStack::raise(int code, const SipCall& call)
{
    events_.push_back(Event{code, call});
}

void SipStack::raise(int code, const SipResult& result)
{
    events_.push_back(Event{code, result});
}

// ---------------------------------------------------------------- timers

void SipStack::start_retransmit(Transaction& t, const std::string& text, int extra_budget_s)
{
    t.retransmit_text = text;
    t.retransmit_count = 0;
    t.retransmit_budget_ms = kFirstRetransmitMs + int64_t{extra_budget_s} * 1000;
    t.retransmit_due = reactor_.clock().tick_count() + static_cast<uint32_t>(kFirstRetransmitMs);
}

void SipStack::start_transaction_timer(Transaction& t, int units)
{
    t.transaction_due = reactor_.clock().tick_count() + units * kTransactionUnitMs;
}

void SipStack::run_timers(uint32_t now)
{
    if (reached(now, keepalive_due_)) {
        keepalive_due_ = now + kKeepAliveMs;
        keepalive_pending_ = true;
    }
    if (refresh_due_ && reached(now, *refresh_due_)) {
        refresh_due_.reset();
        do_register(false);
    }
    // A handler may remove dialogs: walk the keys, not the list.
    std::vector<std::string> keys;
    for (const auto& t : dialogs_)
        keys.push_back(t->call.call_key);
    for (const auto& key : keys) {
        if (Transaction* t = find_by_key(key);
            t && t->retransmit_due && reached(now, *t->retransmit_due))
            retransmit(*t);
        if (Transaction* t = find_by_key(key);
            t && t->transaction_due && reached(now, *t->transaction_due)) {
            t->transaction_due.reset();
            timed_out(*t);
        }
    }
}

void SipStack::retransmit(Transaction& t)
{
    t.retransmit_count += 1;
    if (t.retransmit_count >= kRetransmitsDone) {
        t.retransmit_due.reset();
        timed_out(t);
        return;
    }
    send(t.retransmit_text);
    int64_t next = 0;
    if (t.retransmit_count == kLastRetransmit) {
        next = t.retransmit_budget_ms < 0 ? kShortestRetransmitMs : t.retransmit_budget_ms;
    } else {
        const int64_t step = (int64_t{1} << (t.retransmit_count + 1)) * 500;
        if (t.retransmit_budget_ms - step / 2 - step > 0) {
            next = step;
        } else {
            next = std::max(step + step / 2 - t.retransmit_budget_ms, kShortestRetransmitMs);
            t.retransmit_budget_ms = 0;
            t.retransmit_count = kRetransmitsDone;
        }
    }
    t.retransmit_due = *t.retransmit_due + static_cast<uint32_t>(next);
}

void SipStack::timed_out(Transaction& t)
{
    if (t.dialog.kind == SipDialog::kRegister) {
        if (!t.dialog.awaiting)
            return;
        registered_ = false;
        const int code = t.dialog.unregistering ? kSipUnregistration : kSipRegistration;
        remove(&t);
        raise(code, SipResult{SipResult::kTimeout, {}});
    } else if (t.dialog.kind == SipDialog::kInvite) {
        // A connected or remotely ringing call does not time out.
        if (t.call.state == SipCall::kStateConnected ||
            t.call.state == SipCall::kStateRemoteRinging)
            return;
        t.call.end_reason = SipCall::kEndTimeout;
        raise(kSipCallEnded, t.call);
        remove(&t);
    }
}

// ---------------------------------------------------------------- registration

void SipStack::do_register(bool unregistering)
{
    ++cseq_counter_;
    SipMessage request = new_request(core_, cseq_counter_, "REGISTER", "", "",
                                     unregistering ? 0 : registration_period_);
    if (registration_call_id_) {
        request.call_id = *registration_call_id_;
        if (Transaction* old = find_by_call_id(*registration_call_id_))
            remove(old);
        registration_call_id_.reset();
    }
    if (unregistering)
        registered_ = false;
    auto t = std::make_unique<Transaction>();
    SipDialog& d = t->dialog;
    d.kind = SipDialog::kRegister;
    d.client_side = true;
    d.unregistering = unregistering;
    d.call_id = request.call_id;
    d.method = "REGISTER";
    d.branch = request.branch;
    d.local_tag = request.from.tag;
    d.local_address = request.from;
    d.remote_address = request.to;
    d.last_cseq = request.cseq;
    Transaction* inserted = insert(std::move(t));
    if (!inserted)
        return;
    const std::string text = request.to_text().str();
    send(text);
    start_transaction_timer(*inserted, unregistering ? kUnregisterUnits : kRegisterUnits);
    start_retransmit(*inserted, text, kResendBudgetS);
}

void SipStack::acknowledge(Transaction& t, const SipMessage& response)
{
    send(dialog_request(core_, t.dialog, response.cseq, "ACK", -1));
}

// A 401 or 407: true when it was handled here (answered or given up).
bool SipStack::handle_challenge(Transaction& t, const SipMessage& response)
{
    SipDialog& d = t.dialog;
    if (!d.awaiting)
        return true;
    acknowledge(t, response);
    if (d.kind == SipDialog::kInvite) {
        const int state = t.call.state;
        if (state != SipCall::kStateCalling && state != SipCall::kStateIncoming)
            return true;
        if (response.status == 407 && !d.proxy_auth_reported) {
            d.proxy_auth_reported = true;
            raise(kSipProxyAuth, t.call);
        }
    }
    for (const auto& challenge : response.challenges)
        for (const auto& stored : d.challenges)
            if (same_challenge(challenge, stored))
                return true; // already answered: a copy for a retransmission
    if (response.status == 401 && d.auth_retries > kWwwAuthRetryLimit) {
        if (d.kind == SipDialog::kRegister) {
            registered_ = false;
            const int code = d.unregistering ? kSipUnregistration : kSipRegistration;
            raise(code, SipResult{SipResult::kAuthRefused, {}});
            remove(&t);
        }
        return true;
    }
    if (response.status == 407 && d.auth_retries > kProxyAuthRetryLimit)
        return true;
    resend_with_credentials(t, response);
    return true;
}

void SipStack::resend_with_credentials(Transaction& t, const SipMessage& response)
{
    SipDialog& d = t.dialog;
    // The CSeq comes from the network: the next one must not overflow.
    const int cseq =
        response.cseq < std::numeric_limits<int>::max() ? response.cseq + 1 : response.cseq;
    if (cseq > cseq_counter_)
        ++cseq_counter_;
    for (const auto& challenge : response.challenges) {
        const auto stored =
            std::find_if(d.challenges.begin(), d.challenges.end(),
                         [&](const auto& c) { return c.header_name == challenge.header_name; });
        if (stored != d.challenges.end()) {
            *stored = challenge;
            d.auth_retries += 1;
        } else {
            d.challenges.push_back(challenge);
            d.auth_retries = 0;
        }
    }
    const bool is_register = response.method == "REGISTER";
    SipMessage request =
        dialog_request(core_, d, cseq, response.method, is_register ? registration_period_ : -1);
    if (d.kind == SipDialog::kInvite && d.local_sdp)
        request.set_sdp_body(*d.local_sdp);
    d.branch = request.branch;
    d.last_cseq = request.cseq;
    const std::string text = request.to_text().str();
    send(text);
    start_retransmit(t, text, kResendBudgetS);
}

void SipStack::handle_response(Transaction& t, const SipMessage& response)
{
    SipDialog& d = t.dialog;
    // Even a 100 Trying stops the retransmission.
    d.update_from_response(response);
    if (response.cseq >= d.last_cseq)
        t.retransmit_due.reset();

    const int status = response.status;
    if (status == 401 || status == 407) {
        handle_challenge(t, response);
        return;
    }
    if (d.kind == SipDialog::kInvite) {
        handle_call_response(t, response);
        return;
    }
    if (status == 202) {
        acknowledge(t, response);
        if (d.kind == SipDialog::kNotifyReceived)
            remove(&t);
        return;
    }
    if (status == 200) {
        acknowledge(t, response);
        if (d.kind == SipDialog::kRegister) {
            registration_call_id_ = d.call_id;
            d.awaiting = false;
            t.retransmit_due.reset();
            if (d.unregistering) {
                raise(kSipUnregistration, SipResult{SipResult::kSuccess, {}});
            } else {
                if (!registered_) {
                    registered_ = true;
                    raise(kSipRegistration, SipResult{SipResult::kSuccess, {}});
                }
                const int period = registration_period_ > 120 ? registration_period_ - 60
                                                              : registration_period_ / 2;
                refresh_due_ = reactor_.clock().tick_count() + static_cast<uint32_t>(period) * 1000;
            }
        } else if (d.kind == SipDialog::kNotifyReceived) {
            remove(&t);
        }
        return;
    }
    if (status < 400 || status == 483 || status == 488)
        return;
    if (d.kind == SipDialog::kRegister) {
        if (registered_)
            return;
        d.awaiting = false;
        const int code = d.unregistering ? kSipUnregistration : kSipRegistration;
        raise(code, SipResult{SipResult::kFailure, response.reason});
        registration_call_id_.reset();
        acknowledge(t, response);
        remove(&t);
    } else {
        acknowledge(t, response);
        remove(&t);
    }
}

void SipStack::take_remote_sdp(Transaction& t, const SdpSession& sdp)
{
    t.dialog.remote_sdp = sdp;
    SipCall& c = t.call;
    c.remote_media_ip = sdp.address;
    c.remote_media_port = sdp.port;
    c.remote_local_ip = sdp.local_address;
    c.remote_local_port = sdp.local_port;
    c.remote_stun_ip = sdp.stun_address;
    c.remote_stun_port = sdp.stun_port;
    c.remote_payloads = sdp.payload_list();
    if (c.remote_payloads.size() > SipCall::kMaxPayloads)
        c.remote_payloads.resize(SipCall::kMaxPayloads);
    c.session_id = std::to_string(sdp.session_id);
}

void SipStack::send_bye(Transaction& t)
{
    t.dialog.confirmed = true;
    const std::string text =
        dialog_request(core_, t.dialog, cseq_counter_, "BYE", -1).to_text().str();
    for (int i = 0; i < kByeCopies; ++i)
        send(text);
    t.call.state = SipCall::kStateEnded;
    remove(&t);
}

void SipStack::handle_call_response(Transaction& t, const SipMessage& response)
{
    SipDialog& d = t.dialog;
    SipCall& c = t.call;
    const int status = response.status;
    if (status == 180 || status == 183) {
        if (c.state != SipCall::kStateConnected && c.state != SipCall::kStateRemoteRinging &&
            c.state != SipCall::kStateEnded && c.state != SipCall::kStateCancelling) {
            d.confirmed = true;
            t.retransmit_due.reset();
            start_transaction_timer(t, kRingingUnits);
            c.state = SipCall::kStateRemoteRinging;
            raise(kSipRemoteRinging, c);
        }
        if (status == 183 && c.state == SipCall::kStateRemoteRinging) {
            if (response.sdp)
                take_remote_sdp(t, *response.sdp);
            raise(kSipEarlyMedia, c);
        }
        return;
    }
    if (status == 200) {
        acknowledge(t, response);
        t.retransmit_due.reset();
        if (c.state == SipCall::kStateEnded) {
            remove(&t);
        } else if (c.state == SipCall::kStateCancelling) {
            // Answered while we were cancelling: the callee is connected, so
            // end the call with a BYE rather than leave the far leg up.
            if (response.method == "INVITE" && c.direction == SipCall::kOutgoing) {
                c.state = SipCall::kStateEnded;
                raise(kSipCallEnded, c);
                send_bye(t);
            }
        } else if (c.state != SipCall::kStateConnected) {
            if (response.sdp)
                take_remote_sdp(t, *response.sdp);
            d.confirmed = true;
            c.state = SipCall::kStateConnected;
            raise(kSipCallAnswered, c);
        }
        return;
    }
    if (status == 302) {
        acknowledge(t, response);
        c.redirect_user = response.contact.user;
        c.redirect_host = response.contact.host;
        raise(kSipRedirected, c);
        remove(&t);
        return;
    }
    if (status < 400 || status == 483 || status == 488)
        return;
    d.confirmed = true;
    c.end_reason = end_reason_for(status, c.end_reason);
    c.state = SipCall::kStateEnded;
    raise(kSipCallEnded, c);
    acknowledge(t, response);
    remove(&t);
}

// ---------------------------------------------------------------- requests

void SipStack::handle_request(const SipMessage& request)
{
    Transaction* t = find_by_call_id(request.call_id);
    if (!t) {
        answer_out_of_dialog(request);
        return;
    }
    if (t->dialog.kind == SipDialog::kInvite) {
        handle_call_request(*t, request);
    } else if (request.method == "NOTIFY" && t->dialog.kind != SipDialog::kNotifyReceived) {
        t->dialog.update_from_request(request);
        t->dialog.confirmed = true;
        send(new_response(core_, t->dialog, kReasonNotifyInDialog, 200));
        raise(kSipNotify, t->call);
    }
}

void SipStack::handle_call_request(Transaction& t, const SipMessage& request)
{
    SipCall& c = t.call;
    const std::string& method = request.method;
    if (method == "ACK") {
        if (c.state == SipCall::kStateEnded || c.state == SipCall::kStateCancelling) {
            raise(kSipCallEnded, c);
            remove(&t);
        }
    } else if (method == "BYE" || method == "CANCEL" || method == "Cancel") {
        const bool ended = c.state == SipCall::kStateEnded || c.state == SipCall::kStateCancelling;
        c.state = SipCall::kStateEnded;
        t.dialog.update_from_request(request);
        send(new_response(core_, t.dialog, kReasonCallTerminated, 200));
        c.end_reason = method == "BYE" ? SipCall::kEndHungUp : SipCall::kEndCancelled;
        if (!ended)
            raise(kSipCallEnded, c);
        remove(&t);
    } else if (method == "NOTIFY") {
        t.dialog.update_from_request(request);
        t.dialog.confirmed = true;
        send(new_response(core_, t.dialog, kReasonNotifyInDialog, 200));
        raise(kSipNotify, c);
    }
}

void SipStack::answer_out_of_dialog(const SipMessage& request)
{
    const std::string& method = request.method;
    const bool invite = method == "INVITE";
    if (!invite && method != "OPTIONS" && method != "MESSAGE" && method != "NOTIFY")
        return;
    if (invite && dialogs_.size() >= kMaxDialogs)
        return;
    auto t = std::make_unique<Transaction>();
    SipDialog& d = t->dialog;
    d.client_side = false;
    d.call_id = request.call_id;
    d.method = method;
    d.remote_address = request.from;
    d.remote_tag = request.from.tag;
    d.local_tag = std::to_string(random_number());
    d.update_from_request(request);
    t->call.remote_user = request.from.user;
    t->call.remote_host = request.from.host;
    t->call.remote_display = request.from.display;
    t->call.sip_call_id = request.call_id;
    t->call.call_key = new_call_key();
    if (invite) {
        d.kind = SipDialog::kInvite;
        d.confirmed = true;
        if (request.sdp)
            take_remote_sdp(*t, *request.sdp);
        t->call.state = SipCall::kStateIncoming;
        t->call.direction = SipCall::kIncoming;
        Transaction* inserted = insert(std::move(t));
        send(new_response(core_, inserted->dialog, kReasonTrying, 100));
        raise(kSipIncomingCall, inserted->call);
        return;
    }
    // The other requests end with their answer: the dialog is never kept.
    if (method == "OPTIONS") {
        send(new_response(core_, d, kReasonOptions, 200));
    } else if (method == "MESSAGE") {
        d.kind = SipDialog::kMessageReceived;
        t->call.message = request.message_text;
        send(new_response(core_, d, kReasonMessageReceived, 200));
        raise(kSipMessage, t->call);
    } else {
        d.kind = SipDialog::kNotifyReceived;
        send(new_response(core_, d, kReasonNotifyOutOfDialog, 200));
        raise(kSipNotify, t->call);
    }
    retired_.push_back(std::move(t));
}

} // namespace vokar
