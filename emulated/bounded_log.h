// A record that keeps the newest entries only: the emulated world notes every transfer and
// request it sees, and a demo session or a live view runs for hours, so what it keeps is bounded.
// Tests that look at more than the default can raise the capacity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

namespace tarvex::emulated {

template <typename T>
class BoundedLog {
public:
    using const_iterator = typename std::deque<T>::const_iterator;

    explicit BoundedLog(std::size_t capacity) : capacity_(capacity) {}

    void push(T entry) {
        entries_.push_back(std::move(entry));
        ++total_;
        while (entries_.size() > capacity_) entries_.pop_front();
    }
    // Keeps at most `capacity` entries from now on (the oldest go first).
    void setCapacity(std::size_t capacity) {
        capacity_ = capacity;
        while (entries_.size() > capacity_) entries_.pop_front();
    }
    void clear() { entries_.clear(); }

    std::size_t capacity() const { return capacity_; }
    // Entries ever pushed, those dropped included.
    std::uint64_t total() const { return total_; }

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const T& operator[](std::size_t n) const { return entries_[n]; }
    const T& at(std::size_t n) const { return entries_.at(n); }
    const T& front() const { return entries_.front(); }
    const T& back() const { return entries_.back(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }
    auto rbegin() const { return entries_.rbegin(); }
    auto rend() const { return entries_.rend(); }

private:
    std::deque<T> entries_;
    std::size_t capacity_;
    std::uint64_t total_ = 0;
};

// What the world keeps of each kind unless told otherwise: the last few thousand transfers (a
// capture of 16,000 packets fits whole), a little over a megabyte.
constexpr std::size_t kDefaultRecordCapacity = 16384;

}  // namespace tarvex::emulated
