#include "app/QtNotifier.h"

#include <QCoreApplication>
#include <algorithm>
#include <condition_variable>

struct QtNotifier::Completion {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;

    void Signal() {
        {
            std::lock_guard<std::mutex> lock(m);
            done = true;
        }
        cv.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [this] { return done; });
    }
};

namespace {
const QEvent::Type NOTIFY_EVENT = static_cast<QEvent::Type>(QEvent::User + 0x8001 - 0x8000);
const QEvent::Type MESSAGE_EVENT = static_cast<QEvent::Type>(QEvent::User + 2);

// The completion is signalled when the event is destroyed: after its handler has run, or when Qt
// discards it undelivered (the receiver went away). Either way no sender is left waiting.
class NotifyEvent : public QEvent {
public:
    NotifyEvent(uint32_t c, intptr_t v, std::shared_ptr<QtNotifier::Completion> d)
        : QEvent(NOTIFY_EVENT), code(c), value(v), done(std::move(d)) {}
    ~NotifyEvent() override {
        if (done) done->Signal();
    }
    uint32_t code;
    intptr_t value;
    std::shared_ptr<QtNotifier::Completion> done;
};

class MessageEvent : public QEvent {
public:
    MessageEvent(std::string t, std::string c, std::shared_ptr<QtNotifier::Completion> d)
        : QEvent(MESSAGE_EVENT), text(std::move(t)), caption(std::move(c)), done(std::move(d)) {}
    ~MessageEvent() override {
        if (done) done->Signal();
    }
    std::string text, caption;
    std::shared_ptr<QtNotifier::Completion> done;
};
} // namespace

QtNotifier::QtNotifier(NotifyHandler onNotify, MessageHandler onMessage, QObject* parent)
    : QObject(parent), onNotify_(std::move(onNotify)), onMessage_(std::move(onMessage)),
      guiThread_(std::this_thread::get_id()) {}

QtNotifier::~QtNotifier() {
    BeginClosing();
}

void QtNotifier::Post(uint32_t code, intptr_t value) {
    if (closing_.load()) return;
    QCoreApplication::postEvent(this, new NotifyEvent(code, value, nullptr));
}

void QtNotifier::Send(uint32_t code, intptr_t value) {
    if (std::this_thread::get_id() == guiThread_) {
        // Sent from the window's own thread: run the handler in place, as a direct call would.
        if (!closing_.load() && onNotify_) onNotify_(code, value);
        return;
    }
    auto done = std::make_shared<Completion>();
    PostAndWait(new NotifyEvent(code, value, done), done);
}

void QtNotifier::ShowMessage(const std::string& text, const std::string& caption) {
    if (std::this_thread::get_id() == guiThread_) {
        if (!closing_.load() && onMessage_) onMessage_(text, caption);
        return;
    }
    auto done = std::make_shared<Completion>();
    PostAndWait(new MessageEvent(text, caption, done), done);
}

void QtNotifier::PostAndWait(QEvent* e, const std::shared_ptr<Completion>& done) {
    {
        std::lock_guard<std::mutex> lock(m_);
        if (closing_.load()) {
            delete e;
            return;
        }
        waiting_.push_back(done);
    }
    QCoreApplication::postEvent(this, e);
    done->Wait();
    std::lock_guard<std::mutex> lock(m_);
    std::erase(waiting_, done);
}

void QtNotifier::BeginClosing() {
    std::vector<std::shared_ptr<Completion>> release;
    {
        std::lock_guard<std::mutex> lock(m_);
        closing_.store(true);
        release = waiting_;
    }
    for (const auto& c : release)
        c->Signal();
}

size_t QtNotifier::WaitingSenders() const {
    std::lock_guard<std::mutex> lock(m_);
    return waiting_.size();
}

bool QtNotifier::event(QEvent* e) {
    if (e->type() == NOTIFY_EVENT) {
        auto* n = static_cast<NotifyEvent*>(e);
        if (!closing_.load() && onNotify_) onNotify_(n->code, n->value);
        return true;
    }
    if (e->type() == MESSAGE_EVENT) {
        auto* m = static_cast<MessageEvent*>(e);
        if (!closing_.load() && onMessage_) onMessage_(m->text, m->caption);
        return true;
    }
    return QObject::event(e);
}
