#pragma once
#include <QEvent>
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/Notifier.h"

// The engine's notifications as queued Qt events, handled on the thread that created the notifier
// (the window's thread). Post queues and returns. Send queues and waits until the handler has run;
// ShowMessage does the same for a message box. Waits end early once closing has begun, so a
// closing window never waits for an engine that waits for the window.
class QtNotifier : public QObject, public INotifier {
public:
    using NotifyHandler = std::function<void(uint32_t code, intptr_t value)>;
    using MessageHandler = std::function<void(const std::string& text, const std::string& caption)>;

    QtNotifier(NotifyHandler onNotify, MessageHandler onMessage, QObject* parent = nullptr);
    ~QtNotifier() override;

    void Post(uint32_t code, intptr_t value) override;
    void Send(uint32_t code, intptr_t value) override;
    // From the window's thread the box is shown at once; from any other thread it is queued to the
    // window's thread and the caller waits until it has been acknowledged (or closing begins).
    void ShowMessage(const std::string& text, const std::string& caption) override;

    // From now on nothing reaches the handlers: queued notifications are dropped, waiting senders
    // are released and new sends return at once.
    void BeginClosing();
    bool Closing() const { return closing_.load(); }

    // Test hook: how many senders are waiting right now.
    size_t WaitingSenders() const;

    struct Completion;

protected:
    bool event(QEvent* e) override;

private:
    void PostAndWait(QEvent* e, const std::shared_ptr<Completion>& done);

    NotifyHandler onNotify_;
    MessageHandler onMessage_;
    std::thread::id guiThread_;
    std::atomic<bool> closing_{false};
    mutable std::mutex m_;
    std::vector<std::shared_ptr<Completion>> waiting_;
};
