#include "platform/qt/MainWindowPort.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

const QEvent::Type PostedMessageType = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedMessage : public QEvent {
  public:
    PostedMessage(UINT message, WPARAM wParam, LPARAM lParam)
        : QEvent(PostedMessageType), message(message), wParam(wParam), lParam(lParam) {}
    const UINT message;
    const WPARAM wParam;
    const LPARAM lParam;
};

} // namespace

MainWindowPort::MainWindowPort() = default;

BOOL MainWindowPort::post(UINT message, WPARAM wParam, LPARAM lParam) {
    // Thread-safe: the event is queued for this object's (the user-interface) thread.
    QCoreApplication::postEvent(this, new PostedMessage(message, wParam, lParam));
    return TRUE;
}

void MainWindowPort::attach(WindowMessageTarget* target) {
    m_target = target;
    std::vector<Held> held;
    held.swap(m_held);
    for (const Held& message : held)
        deliver(message);
}

void MainWindowPort::detach() {
    m_target = nullptr;
}

void MainWindowPort::customEvent(QEvent* event) {
    if (event->type() != PostedMessageType)
        return QObject::customEvent(event);
    const auto* posted = static_cast<PostedMessage*>(event);
    deliver({posted->message, posted->wParam, posted->lParam});
}

void MainWindowPort::deliver(const Held& message) {
    if (m_target)
        m_target->OnWindowMessage(message.message, message.wParam, message.lParam);
    else
        m_held.push_back(message);
}
