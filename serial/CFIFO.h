#pragma once
// Unbounded first-in, first-out queue shared by one producer thread, one consumer thread and
// threads that ask its size. Each bulk operation takes the lock once for the whole call.
#include <deque>
#include <mutex>
#include <queue>

template <typename T> class CFIFO : private std::queue<T, std::deque<T>> {
    using Base = std::queue<T, std::deque<T>>;

  public:
    // Appends count elements in order at the back.
    void Push(const T* data, unsigned count) {
        if (count == 0) return;
        std::lock_guard<std::mutex> lock(Lock);
        for (unsigned i = 0; i < count; ++i)
            Base::push(data[i]);
    }

    // Moves up to maxCount elements, oldest first, into buffer; returns how many were taken.
    int Pop(T* buffer, unsigned maxCount) {
        std::lock_guard<std::mutex> lock(Lock);
        unsigned taken = 0;
        while (taken < maxCount && !Base::empty()) {
            buffer[taken++] = Base::front();
            Base::pop();
        }
        return static_cast<int>(taken);
    }

    // Copies up to maxCount elements, oldest first, into buffer without taking them.
    int Peek(T* buffer, unsigned maxCount) const {
        std::lock_guard<std::mutex> lock(Lock);
        unsigned copied = 0;
        for (auto it = Base::c.begin(); copied < maxCount && it != Base::c.end(); ++it)
            buffer[copied++] = *it;
        return static_cast<int>(copied);
    }

    int Size() const {
        std::lock_guard<std::mutex> lock(Lock);
        return static_cast<int>(Base::size());
    }

    bool IsEmpty() const {
        std::lock_guard<std::mutex> lock(Lock);
        return Base::empty();
    }

    void Clear() {
        std::deque<T> drained;
        {
            std::lock_guard<std::mutex> lock(Lock);
            drained.swap(Base::c);
        }
    }

  private:
    mutable std::mutex Lock;
};
