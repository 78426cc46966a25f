#pragma once

#include <cstddef>
#include <unordered_set>

namespace vokar::operatord {

// The bytes the daemon buffers for all its connections together. Streams
// charge what they hold; once the total passes the limit, no stream reads
// until the total falls back to three quarters of it, so clients that do
// not read cannot make the daemon grow past the limit. One thread.
class BufferBudget {
public:
    class Waiter {
    public:
        // Reading may go on.
        virtual void on_budget_available() = 0;

    protected:
        ~Waiter() = default;
    };

    explicit BufferBudget(size_t limit) : limit_(limit) {}
    BufferBudget(const BufferBudget&) = delete;
    BufferBudget& operator=(const BufferBudget&) = delete;

    bool exhausted() const { return used_ > limit_; }
    size_t used() const { return used_; }
    size_t limit() const { return limit_; }

    void charge(size_t bytes) { used_ += bytes; }
    void release(size_t bytes);

    // `waiter` is told once reading may go on; forget() before it goes.
    void wait(Waiter& waiter) { waiters_.insert(&waiter); }
    void forget(Waiter& waiter) { waiters_.erase(&waiter); }

private:
    size_t limit_;
    size_t used_ = 0;
    std::unordered_set<Waiter*> waiters_;
};

// What one holder has charged to a budget (none when the budget is null);
// set() moves the charge to a new amount, destruction releases it.
class BudgetCharge {
public:
    explicit BudgetCharge(BufferBudget* budget) : budget_(budget) {}
    ~BudgetCharge() { set(0); }
    BudgetCharge(const BudgetCharge&) = delete;
    BudgetCharge& operator=(const BudgetCharge&) = delete;

    void set(size_t bytes)
    {
        if (!budget_ || bytes == charged_)
            return;
        if (bytes > charged_)
            budget_->charge(bytes - charged_);
        else
            budget_->release(charged_ - bytes);
        charged_ = bytes;
    }

private:
    BufferBudget* budget_;
    size_t charged_ = 0;
};

} // namespace vokar::operatord
