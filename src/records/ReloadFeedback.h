#pragma once
// What the operator sees while the browser's tree loads: nothing for a quick load, the
// busy pointer once it has taken longer than kBusyAfterMs, and beyond kProgressAfterMs a
// progress line in the status bar; the window repaints meanwhile, while the operator's
// input waits for the tree. Told the rows read now and then (ArchiveTreeModel::Checkpoint).
#include "platform/Dialogs.h"

#include <QtGlobal>
#include <functional>
#include <optional>

class ReloadFeedback {
public:
    static constexpr qint64 kBusyAfterMs = 250;
    static constexpr qint64 kProgressAfterMs = 2000;
    static constexpr qint64 kRepaintEveryMs = 40;

    // clock: milliseconds from any start, never going back.
    explicit ReloadFeedback(std::function<qint64()> clock);
    ~ReloadFeedback(); // gives the pointer back
    ReloadFeedback(const ReloadFeedback &) = delete;
    ReloadFeedback &operator=(const ReloadFeedback &) = delete;

    void operator()(qint64 rowsRead);
    // The load is over: a progress line shown is replaced by how many records were read.
    void finished(int records);

    bool busy() const { return m_busy.has_value(); }
    bool progressShown() const { return m_progressShown; }

private:
    std::function<qint64()> m_clock;
    qint64 m_started;
    qint64 m_repainted;
    std::optional<platform::BusyCursor> m_busy;
    bool m_progressShown = false;
};
