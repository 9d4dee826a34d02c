#include "statuswait.h"

#include "messages.h"
#include "providerreply.h"

#include <QThread>

namespace oxlenpay {

StatusWait StatusWait::fromResult(const Interface::RequestResult& result)
{
    StatusWait wait{result, End::Final, result};
    const QString key = messages::keyOf(result);
    if (key == QLatin1String("waitInterruptedOutcomeUnknown")) {
        wait.end = End::Interrupted;
    } else if (key == QLatin1String("requestStatusTimeout")) {
        wait.end = End::TimedOut;
    }
    return wait;
}

void StatusWaitHandOver::expect(bool closeOutFollows)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Slot& slot = m_slots[QThread::currentThreadId()];
    slot = Slot();
    slot.closeOutFollows = closeOutFollows;
}

bool StatusWaitHandOver::closeOutFollows() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto slot = m_slots.constFind(QThread::currentThreadId());
    return slot != m_slots.constEnd() && slot->closeOutFollows;
}

void StatusWaitHandOver::leave(const StatusWait& wait)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto slot = m_slots.find(QThread::currentThreadId());
    if (slot != m_slots.end()) { // a host's own call of waitForStatus leaves nothing
        slot->left = true;
        slot->wait = wait;
    }
}

StatusWait StatusWaitHandOver::take(const Interface::RequestResult& returned)
{
    Slot slot;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        slot = m_slots.take(QThread::currentThreadId());
    }
    if (slot.left && slot.wait.result == returned) {
        return slot.wait;
    }
    return StatusWait::fromResult(returned);
}

} // namespace oxlenpay
