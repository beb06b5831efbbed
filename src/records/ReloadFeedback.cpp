#include "records/ReloadFeedback.h"

#include "common/Module1.h"

#include <QCoreApplication>

ReloadFeedback::ReloadFeedback(std::function<qint64()> clock)
    : m_clock(std::move(clock)), m_started(m_clock()), m_repainted(m_started)
{
}

ReloadFeedback::~ReloadFeedback() = default;

void ReloadFeedback::operator()(qint64 rowsRead)
{
    const qint64 now = m_clock();
    if (now - m_started <= kBusyAfterMs)
        return;
    const bool justBusy = !m_busy;
    if (justBusy)
        m_busy.emplace();
    if (now - m_started > kProgressAfterMs) {
        app::ShowHint(rowsRead > 0 ? QStringLiteral("正在读取病案库，已读取 %1 条病案……").arg(rowsRead)
                                   : QStringLiteral("正在读取病案库……"));
        m_progressShown = true;
    }
    if (justBusy || now - m_repainted >= kRepaintEveryMs) {
        m_repainted = now;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

void ReloadFeedback::finished(int records)
{
    if (m_progressShown)
        app::ShowHint(QStringLiteral("病案库读取完毕，共 %1 条病案").arg(records));
}
