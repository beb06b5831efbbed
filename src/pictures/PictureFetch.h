#pragma once
// Loads pictures for a window off the window's thread. A picture that is ready within a
// moment is handed over at once, as if it had been read on the spot; a slow one (a large
// photo, a drawing that takes long, a hostile file being refused) is handed over when it
// is ready, the hourglass showing meanwhile, and the window stays free: the operator can
// page on, which calls the slow one off. One picture is loaded at a time in the whole
// program, so that no two of them share the memory budget.
#include "pictures/PictureLoader.h"

#include <QObject>

#include <memory>

namespace pictures {

struct FetchJob;

class PictureFetch : public QObject {
    Q_OBJECT
public:
    explicit PictureFetch(QObject *parent = nullptr);
    ~PictureFetch() override;

    // Starts loading; a load in progress for this window is called off first. `loaded`
    // is emitted, from inside this call when the picture is ready within the patience.
    void start(const QString &path, const PictureRequest &request);
    // Reads ahead: starts loading without waiting and without the hourglass, behind the
    // pictures windows wait for. `loaded` is emitted later, from the event loop.
    void prefetch(const QString &path, const PictureRequest &request);
    // The window now waits for the picture being read ahead: as start() does, it is handed
    // over at once when ready within the patience, else the hourglass shows until it is.
    void hurry();
    // Calls off the load in progress, if any; `loaded` is not emitted for it.
    void cancel();
    bool pending() const { return m_pending; }

signals:
    void loaded(const QString &path, const pictures::LoadedPicture &picture);

private:
    void deliver(const std::shared_ptr<FetchJob> &job);
    void setPending(bool pending);
    void begin(const QString &path, const PictureRequest &request, int priority);

    std::shared_ptr<FetchJob> m_job;
    bool m_pending = false;
};

// How long a window waits for a picture before it goes on without it: short enough that
// a key pressed meanwhile is handled within a tenth of a second.
constexpr int kPatienceMs = 40;
// Tests of the windows wait for every picture (-1), so that what a click shows can be
// looked at right after it; the tests of the waiting itself set it back (0: default).
void setPatienceForTests(int ms);

} // namespace pictures
