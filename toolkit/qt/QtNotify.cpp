// Work carried from background threads to the user-interface thread as posted events.
#include "toolkit/qt/QtInternal.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <condition_variable>
#include <mutex>
#include <set>

namespace tk {

namespace {

// Waiting state of one cross-thread call: finished once the work ran on the user-interface
// thread, or once the call was dropped because the window went away.
struct UiCall {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
};

class CallEvent : public QEvent {
  public:
    static QEvent::Type Kind() {
        static const QEvent::Type kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    CallEvent(int message, std::shared_ptr<UiCall> call)
        : QEvent(Kind()), Message(message), Call(std::move(call)) {}
    // Runs whether the event was handled or discarded, so the sender never waits for ever.
    ~CallEvent() override {
        {
            std::lock_guard<std::mutex> lock(Call->Lock);
            Call->Finished = true;
        }
        Call->Done.notify_all();
    }
    const int Message;

  private:
    std::shared_ptr<UiCall> Call;
};

class QtNotifyWindow;

// Every live notification window, so that all of them let go of Qt when the application object
// goes (the window program's port component is a static object that outlives it). Never
// destroyed, as a static component's destructor still uses it during program exit.
std::mutex RegistryLock;
std::set<QtNotifyWindow*>& Registry() {
    static auto* windows = new std::set<QtNotifyWindow*>;
    return *windows;
}
bool PostRoutineAdded = false;

class QtNotifyWindow : public NotifyWindow {
  public:
    explicit QtNotifyWindow(std::function<void(int)> handler);
    ~QtNotifyWindow() override { Release(); }
    bool Send(int message) override;
    void Release() override;
    bool Released() const override {
        std::lock_guard<std::mutex> lock(Lock);
        return !Object;
    }
    static void ReleaseAll();

  private:
    class Receiver : public QObject {
      public:
        explicit Receiver(QtNotifyWindow* owner) : Owner(owner) {}
        bool event(QEvent* e) override {
            {
                // Pairs with the sender's lock around posting: everything it did before is
                // seen, the event itself included.
                std::lock_guard<std::mutex> lock(Owner->Lock);
            }
            if (e->type() != CallEvent::Kind()) return QObject::event(e);
            Owner->Handler(static_cast<CallEvent*>(e)->Message);
            return true;
        }

      private:
        QtNotifyWindow* const Owner;
    };

    const std::function<void(int)> Handler;
    mutable std::mutex Lock; // guards Object against release while a thread posts to it
    QObject* Object = nullptr;
};

QtNotifyWindow::QtNotifyWindow(std::function<void(int)> handler) : Handler(std::move(handler)) {
    Object = new Receiver(this);
    std::lock_guard<std::mutex> lock(RegistryLock);
    Registry().insert(this);
    if (!PostRoutineAdded) {
        // Runs inside the application object's destructor, while Qt is still whole.
        qAddPostRoutine(&QtNotifyWindow::ReleaseAll);
        PostRoutineAdded = true;
    }
}

bool QtNotifyWindow::Send(int message) {
    auto call = std::make_shared<UiCall>();
    {
        std::unique_lock<std::mutex> lock(Lock);
        if (!Object) return false;
        if (Object->thread() == QThread::currentThread()) {
            // Already on the user-interface thread: waiting for itself would never end.
            lock.unlock();
            Handler(message);
            return true;
        }
        QCoreApplication::postEvent(Object, new CallEvent(message, call));
    }
    std::unique_lock<std::mutex> lock(call->Lock);
    call->Done.wait(lock, [&] { return call->Finished; });
    return true;
}

void QtNotifyWindow::Release() {
    QObject* object;
    {
        std::lock_guard<std::mutex> lock(Lock);
        object = Object;
        Object = nullptr;
    }
    delete object; // discards its pending calls, which releases their senders
    std::lock_guard<std::mutex> lock(RegistryLock);
    Registry().erase(this);
}

void QtNotifyWindow::ReleaseAll() {
    std::set<QtNotifyWindow*> windows;
    {
        std::lock_guard<std::mutex> lock(RegistryLock);
        windows.swap(Registry());
        PostRoutineAdded = false;
    }
    for (QtNotifyWindow* window : windows)
        window->Release();
}

} // namespace

std::unique_ptr<NotifyWindow> MakeNotifyWindow(std::function<void(int)> handler) {
    if (!QCoreApplication::instance()) return nullptr;
    return std::make_unique<QtNotifyWindow>(std::move(handler));
}

} // namespace tk
